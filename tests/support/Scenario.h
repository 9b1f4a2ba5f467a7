// The one harness of the end-to-end tests: what a folder holds, and a run
// of the program checked against it: its status, the line it printed and
// every file it left.
#pragma once

#include <map>
#include <optional>

#include "support/Files.h"
#include "support/Messages.h"
#include "support/Process.h"

namespace testing_support {

// What a folder holds: every name under it but folders ("sub/x" for x in
// sub), with the bytes of a regular file, its size alone past 16 MiB
// (SizeOnly), or what else stands there (a symbolic link, a FIFO), marked
// with a leading \x01.
using Tree = std::map<std::string, std::string>;

inline std::string SizeOnly(std::uintmax_t size) {
  return std::string(1, '\x01').append(std::to_string(size)).append(" bytes");
}

inline Tree TreeOf(const std::filesystem::path& dir, const std::string& prefix = "") {
  namespace fs = std::filesystem;
  Tree tree;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = prefix + entry.path().filename().string();
    const fs::file_status status = fs::symlink_status(entry.path());
    if (fs::is_directory(status)) {
      tree.merge(TreeOf(entry.path(), name + "/"));
    } else if (fs::is_symlink(status)) {
      tree[name] = "\x01link to " + fs::read_symlink(entry.path()).string();
    } else if (fs::is_regular_file(status)) {
      const std::uintmax_t size = fs::file_size(entry.path());
      tree[name] = size > (16u << 20) ? SizeOnly(size) : ReadFile(entry.path());
    } else {
      tree[name] = "\x01not a file";
    }
  }
  return tree;
}

// Puts back the regular files of `tree` under `dir`, and removes what is not
// in it.
inline void Restore(const std::filesystem::path& dir, const Tree& tree) {
  for (const auto& [name, bytes] : TreeOf(dir)) {
    if (!tree.count(name)) std::filesystem::remove(dir / name);
  }
  for (const auto& [name, bytes] : tree) {
    if (bytes.rfind('\x01', 0) != 0) WriteFile(dir / name, bytes);
  }
}

// Checks that `result` has `status` and printed its message (or `printed`),
// and that `dir` holds `expected`, neither more nor less.
inline void ExpectRun(const RunResult& result, int status, const std::filesystem::path& dir,
                      const Tree& expected, const std::optional<std::string>& printed = {}) {
  EXPECT_EQ(result.status, status) << result.err;
  EXPECT_EQ(result.out, printed ? *printed : OutputOfStatus(status));
  const Tree actual = TreeOf(dir);
  const auto names = [](const Tree& tree) {
    std::vector<std::string> list;
    for (const auto& [name, bytes] : tree) list.push_back(name);
    return list;
  };
  EXPECT_EQ(names(actual), names(expected)) << "the files left in " << dir;
  for (const auto& [name, bytes] : expected) {  // a missing one is named above
    EXPECT_TRUE(SameBytes(actual.count(name) ? actual.at(name) : bytes, bytes)) << name;
  }
}

}  // namespace testing_support
