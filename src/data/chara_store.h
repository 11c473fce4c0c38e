// The character store: one JSON file per character in DataDir + "save/".
#pragma once
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vornhal {

class TChara;
class TWorld;

// Loads every "<name>.json" of the save folder. Symlinks, anything but a regular file, files
// above 1 MiB (never read whole) and files that fail to load (invalid JSON, a missing key, a
// value out of range, a duplicate name) are logged with the file name and the reason, and
// their names stay reserved. Temporary files of saves that never finished are removed.
void LoadCharaList(TWorld& world);

// Saves are written by one writer thread once StartSaveWriter has run; until then (and after
// StopSaveWriter) every save is written at once by its caller. Either way the file text is
// encoded when the save is asked for, while the caller holds the world lock, and the files of
// one character are written in the order their saves were asked for. The writer keeps at most
// one pending save per character: a newer save replaces the text of a pending one, and whoever
// waited for the older one is answered when the newer text is written. Logout saves and new
// characters are written before the periodic pass, which goes in groups between them.
//
// Every save writes a new temporary file "<name>.json.XXXXXX" (created exclusively, never
// through a symlink), flushes it, renames it over "<name>.json" and flushes the folder: a file
// once visible under a character's name is never modified again. A name reserved by a file
// that failed to load is never written (the save fails).
void StartSaveWriter();
// Waits until every queued save is written, then ends the writer thread.
void StopSaveWriter();
// Waits until every save queued so far is written.
void DrainSaveWriter();
// Saves queued and not yet written (those being written included).
size_t PendingSaveCount();

// Queues one character's file in the fast lane (a logout save). The result is empty once written, or the error text. A null character is a finished no-op.
// A caller that cannot wait may pass on_failure, which the writer calls with the error text.
std::shared_future<std::string> QueueSaveChara(
    TChara* tc, std::function<void(const std::string&)> on_failure = nullptr);
// The same in the lane of the login server, shared with new characters: a flood of accounts
// on the login server never delays the saves of players leaving the world.
std::shared_future<std::string> QueueReleaseChara(
    TChara* tc, std::function<void(const std::string&)> on_failure = nullptr);
// Queues a new character's first file. done(error) runs on the writer thread once the file is
// on disk (written, flushed, renamed, folder flushed: error empty) or has failed (the error
// text). Without a writer it runs at once on the caller's thread.
void QueueCreateChara(TChara* tc, std::function<void(const std::string& error)> done);
// Writes one character's file and waits for it. Throws on failure.
void SaveChara(TChara* tc);
// Queues every character of the world (nothing when it has none) and sets *count (if given) to the
// number queued. Each failure is logged with the character's name and the others are still
// written; "キャラデータを保存しました" is logged once the pass has written any file. The
// result is the number of failures.
std::shared_future<int> QueueSaveCharaList(TWorld& world, int* count = nullptr);
// Saves every character and waits for it, logging the progress every few seconds while it
// takes long (shutdown). Returns the number of failures.
int SaveCharaList(TWorld& world);

// The file text the store writes for a character (UTF-8 with BOM, CR LF).
std::string CharaToJson(const TChara& tc);
// Builds a character of the world from file text, or null when the file is rejected. The
// character is not added to the world's CharaList. Texts shown to clients are cut to 255 bytes of code page 932.
std::unique_ptr<TChara> CharaFromJson(TWorld& world, const std::string& text);

// The longest character name, in bytes, whose save file and temporary file names both fit the
// file system's 255-byte limit: "<name>.json" and the temporary "<name>.json.XXXXXX".
inline constexpr size_t kMaxCharaNameBytes = 255 - 12;

// True for the name of a save file that exists but failed to load: the name stays taken (a new
// account may not use it) and the store never writes that file. World lock held.
bool IsReservedCharaName(const TWorld& world, std::string_view name);

// True when the name can be a file name in the save folder (not empty, no "/" or NUL, not "."
// or "..", at most kMaxCharaNameBytes). A loaded file with another name is rejected; such a character is never written.
bool IsUsableCharaFileName(std::string_view name);

}  // namespace vornhal
