// What every fuzz target shares: a reader that turns the fuzzer's bytes
// into choices and texts, heap blocks of exact size for AddressSanitizer to
// guard, and the checks that hold after any call into the updater.
//
// Input format, read from the front: a choice or a flag is one byte; a
// text is a 16-bit little-endian length and then that many bytes. Past the
// end everything reads as zero, so every input is a valid one, and a seed
// can be written by hand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "simwin/machine.h"

// A failed check must crash, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition) ((condition) ? (void)0 : fuzz_fail(#condition, __FILE__, __LINE__))

[[noreturn]] inline void fuzz_fail(const char *what, const char *file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, what);
  std::abort();
}

inline HINSTANCE const FUZZ_INSTANCE = reinterpret_cast<HINSTANCE>(0x400000);

class Input {
 public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  unsigned byte() { return at_ < size_ ? data_[at_++] : 0; }
  unsigned pick(unsigned choices) { return byte() % choices; }
  bool flag() { return byte() & 1; }
  DWORD dword() {
    DWORD value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<DWORD>(byte()) << (8 * i);
    return value;
  }

  std::string text(size_t most) {
    size_t length = byte();
    length |= byte() << 8;
    if (length > most) length = most;
    if (length > size_ - at_) length = size_ - at_;
    std::string taken(reinterpret_cast<const char *>(data_ + at_), length);
    at_ += length;
    return taken;
  }
  // A text as a C string holds it: up to its first zero.
  std::string c_text(size_t most) { return text(most).c_str(); }
  // The text of an initialisation file. A zero byte would come back inside
  // a section line and split it in the section list; text files hold none.
  std::string file_text(size_t most) {
    std::string taken = text(most);
    std::replace(taken.begin(), taken.end(), '\0', ' ');
    return taken;
  }

  // One of the two ANSI code pages the updater meets.
  void code_page() { sim::set_code_page(flag() ? 932 : 1252); }

 private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

// A heap block of exactly its size: a byte read or written past it stops
// the run. Bytes the code should not touch start as FILL.
class Exact {
 public:
  static const char FILL = '\x5A';
  explicit Exact(size_t size) : bytes_(new char[size]), size_(size) { std::memset(bytes_.get(), FILL, size); }
  // The text and its terminator, and no byte more.
  static Exact of(const std::string &text) {
    Exact block(text.size() + 1);
    std::memcpy(block.get(), text.c_str(), text.size() + 1);
    return block;
  }
  // The first bytes of the text, with a terminator only when it fits.
  static Exact at_most(const std::string &text, size_t capacity) {
    if (text.size() < capacity) return of(text);
    Exact block(capacity);
    std::memcpy(block.get(), text.data(), capacity);
    return block;
  }
  char *get() { return bytes_.get(); }
  std::string all() const { return std::string(bytes_.get(), size_); }
  // What a written terminated text should leave: the text, its terminator,
  // and the fill after it.
  std::string holding(const std::string &text) const {
    return (text + '\0' + std::string(size_, FILL)).substr(0, size_);
  }
  std::string untouched() const { return std::string(size_, FILL); }

 private:
  std::unique_ptr<char[]> bytes_;
  size_t size_;
};

inline bool ends_with(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The version order, as the user would work it out: fold A-Z only, compare
// unsigned bytes, the shorter of two equal heads is the smaller.
inline bool reference_newer(const std::string &payload, const std::string &installed) {
  auto folded = [](std::string text) {
    for (char &c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
  };
  std::string p = folded(payload), q = folded(installed);
  return std::lexicographical_compare(q.begin(), q.end(), p.begin(), p.end(), [](char a, char b) {
    return static_cast<unsigned char>(a) < static_cast<unsigned char>(b);
  });
}

// The removal switch: "/d" or "-d", either case, anywhere in the text.
inline bool reference_holds_switch(const std::string &text) {
  for (const char *s : {"/d", "/D", "-D", "-d"})
    if (text.find(s) != std::string::npos) return true;
  return false;
}

// Where each character of the text starts, reading the double-byte
// characters of the current code page: a lead byte takes the next byte
// with it, unless it is the last.
inline std::vector<bool> character_starts(const std::string &text) {
  std::vector<bool> starts(text.size() + 1, false);
  for (size_t i = 0; i < text.size(); ++i) {
    starts[i] = true;
    if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size()) ++i;
  }
  starts[text.size()] = true;
  return starts;
}

// The own path's drive ("X:" or none) ends at drive_end, its directory (up
// to the last separator that starts a character) at directory_end.
struct OwnSplit {
  size_t drive_end, directory_end;
};
inline OwnSplit reference_split(const std::string &own) {
  OwnSplit split{0, 0};
  if (own.size() >= 2 && own[1] == ':' && !IsDBCSLeadByte(static_cast<BYTE>(own[0]))) split.drive_end = 2;
  std::vector<bool> starts = character_starts(own);
  split.directory_end = split.drive_end;
  for (size_t i = split.drive_end; i < own.size(); ++i)
    if (starts[i] && (own[i] == '\\' || own[i] == '/')) split.directory_end = i + 1;
  return split;
}

// A library's path in an installation: one '\' between, unless the
// directory already ends in a '\' that is a character of its own.
inline std::string reference_target_path(const std::string &directory, const std::string &name) {
  bool ends_in_separator =
      !directory.empty() && directory.back() == '\\' && character_starts(directory)[directory.size() - 1];
  return directory + (ends_in_separator ? "" : "\\") + name;
}

// Every box of the updater follows one convention.
inline void check_box(const sim::Box &box) {
  FUZZ_CHECK(box.owner == nullptr);
  FUZZ_CHECK(box.caption == "TRAVEN-60 Update");
  FUZZ_CHECK(box.style == MB_SYSTEMMODAL);
  FUZZ_CHECK(!box.text.empty());
  FUZZ_CHECK(box.text.size() <= 1023);
}

// Nothing misused, nothing left open.
inline void check_machine_clean() {
  if (!sim::faults().empty()) fuzz_fail(sim::faults().front().c_str(), __FILE__, __LINE__);
  FUZZ_CHECK(sim::open_keys() == 0);
  FUZZ_CHECK(sim::open_handles() == 0);
  FUZZ_CHECK(sim::heap_blocks() == 0);
  FUZZ_CHECK(sim::loaded_libraries() == 0);
}
