// Stored password forms, their upgrade, and the limits on guessing and on account creation.
#include <gtest/gtest.h>

#include "login/multi.h"
#include "login/password.h"
#include "login/throttle.h"
#include "platform/settings.h"
#include "support/recording_connection.h"

namespace vornhal {
namespace {

class PasswordForms : public ::testing::Test {
 protected:
  void SetUp() override { ResetSettingsToDefaults(); }
  void TearDown() override { ResetSettingsToDefaults(); }
};

TEST_F(PasswordForms, Argon2idStringsAreSaltedAndCarryTheirCost) {
  const std::string a = HashPassword("パスワード");
  const std::string b = HashPassword("パスワード");
  EXPECT_TRUE(IsArgon2idString(a)) << a;
  EXPECT_EQ(a.rfind("$argon2id$v=19$m=19456,t=2,p=1$", 0), 0u) << a;
  EXPECT_NE(a, b) << "each string has its own salt";
  EXPECT_TRUE(VerifyPassword("パスワード", a));
  EXPECT_TRUE(VerifyPassword("パスワード", b));
  EXPECT_FALSE(VerifyPassword("パスワーど", a));
  EXPECT_FALSE(VerifyPassword("", a));
  EXPECT_FALSE(PasswordNeedsRehash(a));
  // A higher configured cost makes the old strings due for an upgrade.
  PasswordHashPasses = 3;
  EXPECT_TRUE(PasswordNeedsRehash(a));
  EXPECT_EQ(HashPassword("x").rfind("$argon2id$v=19$m=19456,t=3,p=1$", 0), 0u);
}

TEST_F(PasswordForms, Sha1DigestsStillMatchAndAreUpgradedOnlyUnderArgon2id) {
  const std::string digest = PasswordDigest("abc");
  EXPECT_TRUE(VerifyPassword("abc", digest));
  EXPECT_TRUE(VerifyPassword("abc", "A9993E364706816ABA3E25717850C26C9CD0D89D"));
  EXPECT_FALSE(VerifyPassword("abd", digest));
  EXPECT_FALSE(VerifyPassword("abc", ""));
  EXPECT_FALSE(VerifyPassword("abc", "$argon2id$garbage"));
  EXPECT_TRUE(PasswordNeedsRehash(digest));
  PasswordHash = "sha1";
  EXPECT_EQ(HashPassword("abc"), digest);
  EXPECT_FALSE(PasswordNeedsRehash(digest));
  // Never downgraded: an Argon2id string stays what it is.
  PasswordHash = "argon2id";
  const std::string strong = HashPassword("abc");
  PasswordHash = "sha1";
  EXPECT_FALSE(PasswordNeedsRehash(strong));
  EXPECT_TRUE(VerifyPassword("abc", strong));
}

class Throttle : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettingsToDefaults();
    Security.LoginFailuresAllowed = 3;
    Security.LoginLockSeconds = 60;
    Security.AccountsPerIPPerHour = 2;
    t.Clear();
  }
  void TearDown() override { ResetSettingsToDefaults(); }
  void Fail(const std::string& name, const std::string& ip, int64_t at) { t.RecordFailure("Multi", name, ip, at); }
  TLoginThrottle t;
};

TEST_F(Throttle, AnAddressIsLockedAfterItsFailuresWithinTheWindowForTheLockTime) {
  Fail("a", "10.0.0.1", 0);
  Fail("b", "10.0.0.1", 1000);
  EXPECT_FALSE(t.AddressLocked("10.0.0.1", 2000));
  // The first failure has left the window by now: still two.
  Fail("c", "10.0.0.1", 60500);
  EXPECT_FALSE(t.AddressLocked("10.0.0.1", 60500));
  Fail("c", "10.0.0.1", 60800);  // 1000, 60500, 60800: three within 60 s
  EXPECT_TRUE(t.AddressLocked("10.0.0.1", 60800));
  EXPECT_FALSE(t.AddressLocked("10.0.0.2", 60800));
  EXPECT_TRUE(t.AddressLocked("10.0.0.1", 120799));
  EXPECT_FALSE(t.AddressLocked("10.0.0.1", 120800));
  // The count starts again after a lock.
  Fail("c", "10.0.0.1", 120800);
  EXPECT_FALSE(t.AddressLocked("10.0.0.1", 120800));
}

TEST_F(Throttle, TrustedAddressesAreExemptButStillCountAgainstTheCharacter) {
  for (int i = 0; i < 11; ++i) Fail("Victim", "127.0.0.1", i);
  EXPECT_FALSE(t.AddressLocked("127.0.0.1", 20));
  EXPECT_FALSE(t.CharaLocked("victim", 20));
  Fail("VICTIM", "10.9.9.9", 30);  // the twelfth, from anywhere
  EXPECT_TRUE(t.CharaLocked("Victim", 31));
  EXPECT_FALSE(t.CharaLocked("Other", 31));
  EXPECT_FALSE(t.CharaLocked("Victim", 60030));
}

TEST_F(Throttle, ZeroTurnsTheLimitsOff) {
  Security.LoginFailuresAllowed = 0;
  for (int i = 0; i < 100; ++i) Fail("x", "10.0.0.1", i);
  EXPECT_FALSE(t.AddressLocked("10.0.0.1", 100));
  EXPECT_FALSE(t.CharaLocked("x", 100));
  Security.AccountsPerIPPerHour = 0;
  for (int i = 0; i < 100; ++i) t.RecordCreation("10.0.0.1", i);
  EXPECT_TRUE(t.CreationAllowed("10.0.0.1", 100));
}

TEST_F(Throttle, AccountCreationsPerAddressPerHour) {
  t.RecordCreation("10.0.0.1", 0);
  EXPECT_TRUE(t.CreationAllowed("10.0.0.1", 10));
  t.RecordCreation("10.0.0.1", 1000);
  EXPECT_FALSE(t.CreationAllowed("10.0.0.1", 2000));
  EXPECT_TRUE(t.CreationAllowed("10.0.0.2", 2000));
  EXPECT_TRUE(t.CreationAllowed("10.0.0.1", 3600 * 1000));  // the first has left the hour
  for (int i = 0; i < 10; ++i) t.RecordCreation("127.0.0.1", i);
  EXPECT_TRUE(t.CreationAllowed("127.0.0.1", 20));
}

}  // namespace
}  // namespace vornhal
