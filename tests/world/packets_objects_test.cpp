// Byte layouts of the object, movement and appearance packets.
#include <stdexcept>

#include "world/npc.h"
#include "packets_test_world.h"

namespace vornhal::test {
namespace {

class ObjectPacketTest : public WorldTest {
 protected:
  void SetUp() override {
    WorldTest::SetUp();
    tc_ = new TChara(World);  // id 0x03000000, at (17, 35) facing south
    tc_->FName = "Abc";
    tc_->Sex = 1;
    tc_->Job = 2;
    tc_->Mark = 3;
    tc_->HairType = 5;
    tc_->HairColor = TAsColor{9, 8, 7};
    World.CharaList.Add(tc_);
  }

  // Equips without packets: weapon in slot 18, wear in slot 20.
  void Dress() {
    weapon_.EquipTile = 0x0203;
    weapon_.Color = TAsColor{4, 5, 6};
    wear_.EquipTile = 0x0102;
    wear_.Color = TAsColor{1, 2, 3};
    tc_->FEquipments->FItems.push_back(
        std::make_unique<TEquipmentSlot>(18, std::make_unique<TItem>(&weapon_, 1)));
    tc_->FEquipments->FItems.push_back(
        std::make_unique<TEquipmentSlot>(20, std::make_unique<TItem>(&wear_, 1)));
  }

  TChara* tc_ = nullptr;
  TItemData weapon_, wear_;
};

TEST_F(ObjectPacketTest, PlayerPositionAndMove) {
  TPacket pos = SPlayerPositionPacket(*tc_);
  Frame f = Unscrambled(pos);
  EXPECT_EQ(f.id, TServerPacketId::kPlayerPosition);
  EXPECT_EQ(f.payload, B({0x00, 0x11, 0x00, 0x23, 0x00, 0x08, 0x00, 0x09}));

  TPacket move = SCharaMovePacket(*tc_);
  f = Unscrambled(move);
  EXPECT_EQ(f.id, TServerPacketId::kCharaMove);
  EXPECT_EQ(f.payload, B({0x03, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00, 0x23}));
}

TEST_F(ObjectPacketTest, PositionFrameLeavesScrambled) {
  // Seed 0: the first ten payload bytes are the key XOR, complemented.
  TPacket pos = SPlayerPositionPacket(*tc_);
  RecordingConnection conn;
  pos.SendTo(&conn);
  EXPECT_EQ(conn.Bytes(), B({0xAA, 0x00, 0x0A, 0x04, 0x00, 0xB7, 0x9F, 0xC8, 0xFD, 0x92, 0xAD,
                             0xCD, 0xD5}));
}

TEST_F(ObjectPacketTest, PlayerInfoWithLook) {
  Dress();
  TPacket p = SPlayerInfoPacket(*tc_);
  Frame f = Unscrambled(p);
  EXPECT_EQ(f.id, TServerPacketId::kPlayerInfo);
  EXPECT_EQ(f.payload, B({0x03, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03,  // id, sex, job, mark
                          0x00, 0x00, 0x00, 0x00,                     // mode
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x01, 0x02,        // wear type
                          0x00, 0x05,        // head type = hair type
                          0x09, 0x08, 0x07,  // head colour = hair colour
                          0x02, 0x03,        // weapon type
                          0x04, 0x05, 0x06,  // weapon colour
                          0x00, 0x00,        // shield type
                          0x00, 0x00, 0x00,  // shield colour
                          0x01, 0x02, 0x03,  // wear colour
                          0x00, 0x3F, 0x02}));
}

TEST_F(ObjectPacketTest, PlayerInfoWithoutLook) {
  Dress();
  tc_->Mode = 0x00000800;
  TPacket p = SPlayerInfoPacket(*tc_);
  EXPECT_EQ(Unscrambled(p).payload,
            B({0x03, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00,
               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(ObjectPacketTest, CharaAppearWithLook) {
  Dress();
  TPacket p = SCharaAppearPacket(*tc_);
  Frame f = Unscrambled(p);
  EXPECT_EQ(f.id, TServerPacketId::kCharaAppear);
  EXPECT_EQ(f.payload,
            B({0x00, 0x11, 0x00, 0x23, 0x02,                    // X, Y, direction
               0x03, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03,        // id, sex, job, mark
               0x00, 0x00, 0x00, 0x00,                          // mode
               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
               0x01, 0x02, 0x00, 0x05, 0x09, 0x08, 0x07, 0x02, 0x03, 0x04, 0x05, 0x06,
               0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00,  // look block and its 0
               0x00, 0x07, 0x03, 'A', 'b', 'c', 0x00, 0x00, 0x00,
               0x03, 0x00, 0x00, 0x00, 0x50,  // 3, 0, speed 80
               0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(ObjectPacketTest, CharaAppearWithEveryModeExtra) {
  Dress();
  tc_->Mode = 0x40002813;  // no look, extra colour, u16, u8, u8+str8, u8+str16
  TPacket p = SCharaAppearPacket(*tc_);
  EXPECT_EQ(Unscrambled(p).payload,
            B({0x00, 0x11, 0x00, 0x23, 0x02, 0x03, 0x00, 0x00, 0x00, 0x01, 0x02, 0x03,
               0x40, 0x00, 0x28, 0x13,  // mode
               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
               0x00,              // the look block is one zero byte
               0x00, 0x00, 0x00,  // extra colour (bit 0x1)
               0x00, 0x00,        // extra u16 (bit 0x10)
               0x00,              // extra u8 (bit 0x2)
               0x00, 0x07, 0x03, 'A', 'b', 'c', 0x00, 0x00, 0x00,
               0x00, 0x00,        // u8 and empty str8 (bit 0x2000)
               0x00, 0x00, 0x00,  // u8 and empty str16 (bit 0x40000000)
               0x03, 0x00, 0x00, 0x00, 0x50, 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
               0x00}));
}

TEST_F(ObjectPacketTest, MapObjectsTailsOfEveryKind) {
  TMap* dun = World.AddMap(1, "Dun", 50, 50);
  auto* npc = new TNpc(World);  // id 50000
  npc->FName = "Np";
  npc->Point = TMapPoint{5, 6};
  npc->Dir = 1;
  World.NpcList.Add(npc);

  TMobData slime;
  slime.Name = "Slime";
  slime.GraphicID = 0x1234;
  slime.Color = TAsColor{10, 20, 30};
  slime.Speed = 90;
  slime.MaxHP = 4;
  TMob mob(town_, &slime, false, 7, 8, 0, 0);  // id 5000000, placed exactly on (7, 8)
  mob.HP = 1;                                  // 25 percent

  TItemData herb;
  herb.Name = "Herb";
  herb.MetaKey = "herb1";
  herb.ColorType = 4;
  herb.Color = TAsColor{1, 2, 3};
  herb.DropTile = 0x0010;
  TDroppedItem item(World, std::make_unique<TItem>(&herb, 1), 9, 10);  // id 10000000

  TPortal portal;
  portal.Point = TMapPoint{11, 12};
  portal.DestMap = dun;

  TPacket p = SMapObjectsPacket({npc, &mob, &item, &portal});
  Frame f = Unscrambled(p);
  EXPECT_EQ(f.id, TServerPacketId::kMapObjects);
  EXPECT_EQ(f.payload,
            Cat({B({0x00, 0x04}),
                 // NPC: X, Y, kind, id, "", tile, 0, 0, colour, dir, hp, speed, 0, name
                 B({0x00, 0x05, 0x00, 0x06, 0x01, 0x00, 0x00, 0xC3, 0x50, 0x00, 0x40, 0x29,
                    0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0x01, 0x64, 0x00, 0x50, 0x00, 0x00,
                    0x00, 0x00, 0x02, 'N', 'p'}),
                 // mob: as the NPC plus six zero bytes before the name
                 B({0x00, 0x07, 0x00, 0x08, 0x02, 0x00, 0x4C, 0x4B, 0x40, 0x00, 0x12, 0x34,
                    0x00, 0x00, 0x00, 0x0A, 0x14, 0x1E, 0x00, 0x19, 0x00, 0x5A, 0x00, 0x00,
                    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),
                 Str8("Slime"),
                 // dropped item: X, Y, kind, id, tile, colour type, colour, name, 0
                 B({0x00, 0x09, 0x00, 0x0A, 0x03, 0x00, 0x98, 0x96, 0x80, 0x80, 0x10, 0x00,
                    0x04, 0x01, 0x02, 0x03}),
                 Str8("Herb"), B({0x00, 0x00, 0x00, 0x00}),
                 // portal: X, Y, kind, id 0, tile 0, destination map name only
                 B({0x00, 0x0B, 0x00, 0x0C, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),
                 Str8("Dun")}));
}

TEST_F(ObjectPacketTest, MapObjectsOfOneBlockByKind) {
  TMapBlock block;
  TItemData herb;
  herb.Name = "Herb";
  herb.DropTile = 0;
  TDroppedItem item(World, std::make_unique<TItem>(&herb, 1), 1, 2);
  TPortal portal;
  block.MapObjects.Add(&portal);
  block.MapObjects.Add(&item);

  TPacket only_items = SMapObjectsPacket(block, 1u << kKindDroppedItem);
  Frame f = Unscrambled(only_items);
  ASSERT_GE(f.payload.size(), 7u);
  EXPECT_EQ(f.payload[0], 0x00);
  EXPECT_EQ(f.payload[1], 0x01);
  EXPECT_EQ(f.payload[6], kKindDroppedItem);

  TPacket all = SMapObjectsPacket(block);
  f = Unscrambled(all);
  EXPECT_EQ(f.payload[1], 0x02);
  EXPECT_EQ(f.payload[6], kKindPortal);  // list order kept

  TPacket none = SMapObjectsPacket(block, 1u << kKindMob);
  EXPECT_EQ(Unscrambled(none).payload, B({0x00, 0x00}));
}

TEST_F(ObjectPacketTest, MapObjectsRefusesMoreThanItsCountHolds) {
  TPortal portal;
  std::vector<const TMapObject*> many(65536, &portal);
  EXPECT_THROW(SMapObjectsPacket(many), std::length_error);
  many.pop_back();
  EXPECT_NO_THROW(SMapObjectsPacket(many));
}

TEST_F(ObjectPacketTest, SmallObjectPackets) {
  TMobData slime;
  slime.Name = "Slime";
  slime.MaxHP = 4;
  TMob mob(town_, &slime, false, 7, 8, 0, 0);
  mob.Dir = 3;

  TPacket ack = SMoveAckPacket(*tc_, 200);
  EXPECT_EQ(Unscrambled(ack).payload, B({0x00, 0x11, 0x00, 0x23, 72}));
  TPacket ack2 = SMoveAckPacket(*tc_, 5);
  EXPECT_EQ(Unscrambled(ack2).payload.back(), 133);

  TPacket mob_move = SMobMovePacket(mob);
  Frame f = Unscrambled(mob_move);
  EXPECT_EQ(f.id, TServerPacketId::kMobMove);
  EXPECT_EQ(f.payload, B({0x00, 0x4C, 0x4B, 0x40, 0x00, 0x07, 0x00, 0x08, 0x03, 0x00}));

  TPacket remove = SRemoveObjectPacket(mob);
  f = Unscrambled(remove);
  EXPECT_EQ(f.id, TServerPacketId::kRemoveObject);
  EXPECT_EQ(f.payload, B({0x00, 0x4C, 0x4B, 0x40}));

  TPacket dir = SDirectionPacket(mob);
  f = Unscrambled(dir);
  EXPECT_EQ(f.id, TServerPacketId::kDirection);
  EXPECT_EQ(f.payload, B({0x00, 0x4C, 0x4B, 0x40, 0x03}));

  TPacket die = SDiePacket(mob);
  f = Unscrambled(die);
  EXPECT_EQ(f.id, TServerPacketId::kDie);
  EXPECT_EQ(f.payload, B({0x00, 0x4C, 0x4B, 0x40}));

  TPacket motion = SMotionPacket(*tc_, 4, 80);
  f = Unscrambled(motion);
  EXPECT_EQ(f.id, TServerPacketId::kMotion);
  EXPECT_EQ(f.payload, B({0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x50, 0x00}));
}

TEST_F(ObjectPacketTest, AttackWithAndWithoutHitBlock) {
  TMobData slime;
  slime.Name = "Slime";
  slime.MaxHP = 4;
  TMob mob(town_, &slime, false, 7, 8, 0, 0);
  mob.HP = 3;  // 75 percent

  TPacket hit = SAttackPacket(*tc_, mob, 69, 1);
  Frame f = Unscrambled(hit);
  EXPECT_EQ(f.id, TServerPacketId::kAttack);
  EXPECT_EQ(f.payload, B({0x03, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x4B, 0x40, 0x04, 0x00, 0x00,
                          0x00, 0x46, 0x00, 0x00, 0x00, 0x45,  // flags 69
                          0x00, 0x00, 0x9F, 0x00, 0x46, 0x00, 0x01, 0x00, 0x4B,
                          0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00}));

  TPacket miss = SAttackPacket(*tc_, mob, 0, 0);
  EXPECT_EQ(Unscrambled(miss).payload,
            B({0x03, 0x00, 0x00, 0x00, 0x00, 0x4C, 0x4B, 0x40, 0x04, 0x00, 0x00, 0x00, 0x46,
               0x00, 0x00, 0x00, 0x00}));
}

TEST_F(ObjectPacketTest, MapInfoSoundAndWeather) {
  town_->Flag1 = 2;
  town_->Flag2 = 3;
  town_->BGM = 12;
  town_->Weather = 4;
  TPacket info = SMapInfoPacket(*town_);
  Frame f = Unscrambled(info);
  EXPECT_EQ(f.id, TServerPacketId::kMapInfo);
  EXPECT_EQ(f.payload, B({0x27, 0x47, 0x00, 0x00, 0x00, 0x00, 0x02, 0x03, 0x04, 'T', 'o',
                          'w', 'n'}));

  TPacket music = SSoundPacket(*town_);
  f = Unscrambled(music);
  EXPECT_EQ(f.id, TServerPacketId::kSound);
  EXPECT_EQ(f.payload, B({0x01, 0x00, 0x00, 0x0C}));
  TPacket effect = SSoundPacket(uint16_t{57});
  EXPECT_EQ(Unscrambled(effect).payload, B({0x00, 0x00, 0x39}));

  TPacket weather = SWeatherPacket(*town_);
  f = Unscrambled(weather);
  EXPECT_EQ(f.id, TServerPacketId::kWeather);
  EXPECT_EQ(f.payload, B({0x01, 0x04}));
}

TEST_F(ObjectPacketTest, EffectOnObjectAndAtPosition) {
  TPacket on_object = SEffectPacket(*tc_, 1009, 0);
  Frame f = Unscrambled(on_object);
  EXPECT_EQ(f.id, TServerPacketId::kEffect);
  EXPECT_EQ(f.payload, B({0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0xF1,
                          0x00, 0x00, 0x00}));
  TPacket at_position = SEffectPacket(uint16_t{5}, uint16_t{6}, uint16_t{238});
  EXPECT_EQ(Unscrambled(at_position).payload,
            B({0x00, 0x00, 0x05, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xEE, 0x00, 0x00,
               0x01}));
}

TEST_F(ObjectPacketTest, HPInfoOfBothKinds) {
  TPacket other = SHPInfoPacket(5000000, nullptr);
  Frame f = Unscrambled(other);
  EXPECT_EQ(f.id, TServerPacketId::kHPInfo);
  EXPECT_EQ(f.payload, B({0x00, 0x4C, 0x4B, 0x40, 0x00, 0x00, 0x64, 0x00}));

  tc_->MaxHP = 16;
  tc_->HP = 8;
  TPacket chara = SHPInfoPacket(tc_->ObjectID, tc_);
  EXPECT_EQ(Unscrambled(chara).payload, B({0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x32, 0x06, 0x00}));
}

TEST_F(ObjectPacketTest, PathMove) {
  tc_->NextPoint = TMapPoint{18, 36};
  tc_->NextDir = 5;
  TPacket p = SPathMovePacket(*tc_, {1, 2, 3});
  Frame f = Unscrambled(p);
  EXPECT_EQ(f.id, TServerPacketId::kPathMove);
  EXPECT_EQ(f.payload, B({0x03, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00, 0x23, 0x02, 0x03, 0x01,
                          0x02, 0x03, 0x00, 0x12, 0x00, 0x24, 0x05}));

  TPacket empty = SPathMovePacket(*tc_, {});
  EXPECT_EQ(Unscrambled(empty).payload, B({0x03, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00, 0x23, 0x02,
                                           0x00, 0x00, 0x12, 0x00, 0x24, 0x05}));

  EXPECT_THROW(SPathMovePacket(*tc_, std::vector<uint8_t>(256, 0)), std::length_error);
  TPacket full = SPathMovePacket(*tc_, std::vector<uint8_t>(255, 7));
  EXPECT_EQ(Unscrambled(full).payload[9], 255);
}

}  // namespace
}  // namespace vornhal::test
