// Writes the fuzz targets' seed inputs: seed_writer <folder> makes <folder>/<target>/ with one
// file per script. The board scripts are the exchanges the board tests play (a copy, a
// listing, a search by alias, random records, list output ending in Ctrl-Z, a frame cut off
// half way, drive questions, and names that try to leave the drive), each in the board
// target's framing: an options byte, a reset-interval byte, then the stream. The files in
// fuzz/corpus/ are this program's output; scripts/fuzz_seeds.sh writes them again.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "../bench/board_wire.h"
#include "common/settings.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using mirte::bench::Frame;

struct Seed {
  std::string name;
  std::string bytes;
};

// Drive byte 0 (the current drive) and an 8 + 3 name, padded as the board pads it.
std::string Name(std::string name, std::string ext, char drive = 0) {
  name.resize(8, ' ');
  ext.resize(3, ' ');
  return std::string(1, drive) + name + ext;
}

std::string Record(char fill) { return std::string(128, fill); }

std::string RecordNumber(int n) { return std::string{char(n & 0xFF), char(n >> 8)}; }

// Options byte 0: the port takes every reply, nothing is reset, pages are not printed.
std::string Plain(const std::string& stream) { return "\x00\xff"s + stream; }

std::vector<Seed> BoardSeeds() {
  const std::string seed = Name("SEED", "TXT");
  const std::string copy = Name("COPY", "TXT");
  const std::string random = Name("R", "DAT");
  const std::string alias = Name("ALONGN~1", "TEX");
  std::vector<Seed> seeds;

  seeds.push_back({"copy", Plain("A>PIP COPY.TXT=SEED.TXT\r\n" + Frame(15, seed) + Frame(22, copy) +
                                 Frame(20, seed) + Frame(21, copy) + Record('s') + Frame(20, seed) +
                                 Frame(21, copy) + Record('t') + Frame(20, seed) + Frame(16, copy) +
                                 Frame(16, seed) + Frame(35, copy))});
  seeds.push_back({"listing", Plain("A>DIR\r\n" + Frame(17, Name("????????", "???")) + Frame(18, seed) +
                                    Frame(18, seed) + Frame(18, seed) + Frame(18, seed) + "\r\n")});
  seeds.push_back({"search_alias", Plain(Frame(17, Name("A*", "T*")) + Frame(15, alias) + Frame(20, alias) +
                                         Frame(36, alias) + Frame(20, alias) + Frame(20, alias) +
                                         Frame(16, alias))});
  seeds.push_back({"random_records",
                   Plain(Frame(22, random) + Frame(34, random + RecordNumber(2)) + Record('2') +
                         Frame(33, random + RecordNumber(0)) + Frame(33, random + RecordNumber(65535)) +
                         Frame(36, random) + Frame(35, random) + Frame(21, random) + Record('3') +
                         Frame(16, random))});
  std::string print;
  for (char c : "Hello\r\nsecond line, long enough to wrap at the right edge\r\n\f"s) print += Frame(5, std::string(1, c));
  seeds.push_back({"list_output", Plain(print + Frame(5, "\x1a") + Frame(5, "x"))});
  seeds.push_back({"list_output_each_page", "\x04\xff"s + print + print + print + Frame(5, "\x1a")});
  seeds.push_back({"half_frame", Plain("text" + Frame(21, copy) + Record('h').substr(0, 50))});
  seeds.push_back({"half_frame_reset", "\x02\x20"s + Frame(15, seed) + Frame(21, seed) + Record('h') + "more"});
  seeds.push_back({"drives", Plain(Frame(24, "") + Frame(25, "") + Frame(29, "") + Frame(32, "") + Frame(14, "\0"s) +
                                   Frame(17, Name("*", "*")) + Frame(14, "\x01") + Frame(25, "") +
                                   Frame(22, Name("ONB", "DAT", 2)) + Frame(14, "\x10") + Frame(37, "\xff\xff") +
                                   Frame(40, seed) + Frame(13, ""))});
  seeds.push_back({"rename_attr_delete",
                   Plain(Frame(23, seed + "NEWNAME " "TXT") + Frame(30, Name("NEWNAME", "\xd4XT")) +
                         Frame(15, Name("NEWNAME", "TXT")) + Frame(30, Name("NEWNAME", "TXT")) +
                         Frame(19, Name("NEW?????", "???")) + Frame(18, seed) + Frame(15, Name("RO", "DAT")) +
                         Frame(35, Name("RO", "DAT")))});
  seeds.push_back({"escape_attempts",
                   Plain(Frame(15, "\0.."s + std::string(9, ' ')) + Frame(22, "\0/SECRET TXT"s) +
                         Frame(22, "\0..\0SECRETTXT"s) + Frame(15, Name("LINK", "TXT")) + Frame(19, Name("SUBDIR", "")) +
                         Frame(23, Name("SEED", "TXT") + "../OUT  TXT") + Frame(15, Name(".HIDDEN", "")))});
  seeds.push_back({"refused_port", "\x01\xff"s + Frame(20, seed) + Frame(15, seed) + Frame(20, seed) + Frame(24, "")});
  seeds.push_back({"short_lead_in", "\x10\xff"s + "\xf0\x0f" + seed + "\xf0\x14" + seed + "\xf0\x18"});
  return seeds;
}

// Chunks of the console target: a header byte (length, top bit: reset after), then bytes.
std::string Chunks(const std::string& bytes, bool resetAfter = false) {
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); at += 127) {
    std::string part = bytes.substr(at, 127);
    bool last = at + 127 >= bytes.size();
    out += char(part.size() | (last && resetAfter ? 0x80 : 0));
    out += part;
  }
  return out;
}

std::vector<Seed> ConsoleSeeds() {
  std::string every;
  for (char letter : "@ABCDPQRS`abc"s) every += "\x1b" "0"s + letter + "\x0e" "on\x0f" "off";
  std::vector<Seed> seeds = {
      {"controls", Chunks("\x01" "home\x06\x07\x08\x15\x0a\x0d\x0c" "ff\x19" "em\x1a\x1d\t\0tail"s)},
      {"escapes", Chunks("abc\x1bK\x1bk\x1bM\x1bP\x1bQ\x1bz\x1b\x1b" "done")},
      {"attributes", Chunks(every)},
      {"cursor_address", Chunks("\x1bY  corner\x1bY7o bottom\x1bY\x00 !zero row\x1bY\x80\x80out\x1bY!!"s, true)},
      {"scrolling", Chunks(std::string(30, '\n') + std::string(200, 'w') + "\x1bY7 \x0a\x0a\x0a")},
      {"frames_dropped", Chunks("A>\x10\x11\x18" "after\x10x\x10\x11\x00" "and\x10\x11\x0f" "NAME"s)},
  };
  return seeds;
}

// The settings loader's seeds: a valid record, one that needs every repair, and a short one.
std::vector<Seed> SettingsSeeds() {
  mirte::SettingsRec rec{};
  rec.Language = 1;
  rec.ComNumber = 3;
  rec.Baud = 38400;
  rec.FontSize = 12;
  rec.TextColor = 0x00C0C0C0;
  rec.BackColor = 0x00800000;
  rec.PrintEachPage = 1;
  rec.Release.Assign(mirte::kRelease);
  rec.WorkFolder.Assign("/");
  rec.UserStr[0].Assign("DIR\r");
  rec.UserStr[9].Assign(std::string(30, 'z'));
  rec.UserStrEnter[0] = 1;
  std::string valid(reinterpret_cast<const char*>(&rec), sizeof rec);
  mirte::SettingsRec bad = rec;
  bad.Language = 3;
  bad.Baud = 4800;
  bad.FontSize = 11;
  bad.Release.Assign("1.01");
  bad.WorkFolder.Assign("/no/such/folder");
  std::string invalid(reinterpret_cast<const char*>(&bad), sizeof bad);
  return {{"valid", valid}, {"valid_longer", valid + "trailing"}, {"every_repair", invalid},
          {"short", valid.substr(0, 603)}};
}

// Folder contents for the DOS-name target: names separated by '/'.
std::vector<Seed> DosNameSeeds() {
  return {{"short_and_long", "README.TXT/readme.txt/A Long Name.text/A Long Name.txt/ALONGN~1.TEX/x"},
          {"same_prefix", "Program Files/Program Data/ProgramX/PROGRA~1/progra~2.dat/Program"},
          {"odd_bytes", "a+b,c.d;e/[x]=y.z/\xe9t\xe9.doc/..dots../.hidden/trail./.ext/noext/TOOLONGNAME"},
          {"extensions", "a.b.c.d/archive.tar.gz/x.1234/Y.TXT/y.txt/z.TxT/name with space.c"}};
}

void WriteAll(const fs::path& folder, const std::vector<Seed>& seeds) {
  fs::create_directories(folder);
  for (const auto& s : seeds) {
    FILE* out = std::fopen((folder / s.name).c_str(), "wb");
    if (!out) std::exit(1);
    std::fwrite(s.bytes.data(), 1, s.bytes.size(), out);
    std::fclose(out);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: seed_writer <folder>\n");
    return 2;
  }
  const fs::path root = argv[1];
  WriteAll(root / "board_fuzz", BoardSeeds());
  WriteAll(root / "console_fuzz", ConsoleSeeds());
  WriteAll(root / "settings_fuzz", SettingsSeeds());
  WriteAll(root / "dos_names_fuzz", DosNameSeeds());
  return 0;
}
