#include "update/payload_digest.h"

#include <algorithm>
#include <string>

#include "digest_of.h"
#include "kit/own_path.h"
#include "machine_fixture.h"
#include "run/run.h"
#include "update/sha256.h"
#include "update/update_pass.h"

static std::string hex(const BYTE *bytes, int size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < size; ++i) text += std::string{digits[bytes[i] >> 4], digits[bytes[i] & 15]};
  return text;
}

// The message fed in pieces of the given sizes in turn, so that blocks are
// filled across calls.
static std::string sha256_hex(const std::string &message, std::vector<DWORD> pieces = {0xFFFFFFFFu}) {
  Sha256 hash;
  sha256_begin(&hash);
  const BYTE *at = reinterpret_cast<const BYTE *>(message.data());
  DWORD left = static_cast<DWORD>(message.size());
  for (std::size_t i = 0; left; ++i) {
    DWORD piece = pieces[i % pieces.size()] < left ? pieces[i % pieces.size()] : left;
    EXPECT_EQ(1, sha256_add(&hash, at, piece));
    at += piece;
    left -= piece;
  }
  BYTE digest[SHA256_SIZE];
  sha256_end(&hash, digest);
  return hex(digest, SHA256_SIZE);
}

// FIPS 180-2, appendix B, and the NIST examples for SHA-256.
TEST(Sha256, PublishedTestVectors) {
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", sha256_hex("abc"));
  EXPECT_EQ("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1",
            sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"));
  const std::string million(1000000, 'a');
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0", sha256_hex(million));
  EXPECT_EQ("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0",
            sha256_hex(million, {1, 63, 64, 65, 999}));
  EXPECT_EQ("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", sha256_hex(""));
  EXPECT_EQ(
      "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1",
      sha256_hex("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnop"
                 "qrstnopqrstu"));
}

// Where the padding and the length need a block of their own, or not.
TEST(Sha256, LengthsAroundTheBlockEnd) {
  const char *const expected[] = {
      "463eb28e72f82e0a96c0a4cc53690c571281131f672aa229e0d45ae59b598b59",  // 55
      "da2ae4d6b36748f2a318f23e7ab1dfdf45acdc9d049bd80e59de82a60895f562",  // 56
      "29af2686fd53374a36b0846694cc342177e428d1647515f078784d69cdb9e488",  // 63
      "fdeab9acf3710362bd2658cdc9a29e8f9c757fcf9811603a8c447cd1d9151108",  // 64
      "4bfd2c8b6f1eec7a2afeb48b934ee4b2694182027e6d0fc075074f2fabb31781",  // 65
      "da18797ed7c3a777f0847f429724a2d8cd5138e6ed2895c3fa1a6d39d18f7ec6",  // 119
      "f52b23db1fbb6ded89ef42a23ce0c8922c45f25c50b568a93bf1c075420bbb7c",  // 120
  };
  const int lengths[] = {55, 56, 63, 64, 65, 119, 120};
  for (int i = 0; i < 7; ++i) {
    std::string message;
    for (int b = 0; b < lengths[i]; ++b) message += static_cast<char>(b);
    EXPECT_EQ(expected[i], sha256_hex(message)) << lengths[i];
  }
}

// Whole blocks are compressed where they lie: only the bytes of a block
// begun or left unfinished pass through the hash's own block.
TEST(Sha256, WholeBlocksAreNotCopied) {
  Sha256 hash;
  sha256_begin(&hash);
  const BYTE bytes[2 * SHA256_BLOCK] = {1};
  std::fill(hash.block, hash.block + SHA256_BLOCK, 0xA5);
  EXPECT_EQ(1, sha256_add(&hash, bytes, 2 * SHA256_BLOCK));
  EXPECT_EQ(std::vector<BYTE>(SHA256_BLOCK, 0xA5), std::vector<BYTE>(hash.block, hash.block + SHA256_BLOCK));
  EXPECT_EQ(1, sha256_add(&hash, bytes, 1));
  EXPECT_EQ(1, hash.block[0]);
  EXPECT_EQ(0xA5, hash.block[1]);
}

// The length in bits takes 64 bits from 512 MB on. Expected: the padding
// block for 0xFFFFFFC0 bytes compressed from the initial state, by a
// separate implementation (hashlib cannot start from a given length).
TEST(Sha256, LengthsFrom512MBFillTheHighWord) {
  Sha256 hash;
  sha256_begin(&hash);
  hash.length = 0xFFFFFFC0u;  // as if that much had been added
  BYTE digest[SHA256_SIZE];
  sha256_end(&hash, digest);
  EXPECT_EQ("a2f5858942e3e6b99ae2bc5b4434e2bdb4b1fa1389e0ede82d8333a94d852b8b", hex(digest, SHA256_SIZE));
}

TEST(Sha256, MessagesOf4GBAreRefused) {
  Sha256 hash;
  sha256_begin(&hash);
  hash.length = 0xFFFFFFF0u;  // as if that much had been added
  const BYTE bytes[16] = {};
  EXPECT_EQ(0, sha256_add(&hash, bytes, 16));
  EXPECT_EQ(0xFFFFFFF0u, hash.length);
  EXPECT_EQ(1, sha256_add(&hash, bytes, 15));
  EXPECT_EQ(0xFFFFFFFFu, hash.length);
}

class PayloadDigestTest : public MachineTest {
 protected:
  // The executable as a release builds it: the records of the payloads as
  // they lie in the kit now, in payload table order.
  static std::string digests() {
    return record_of(sim::bytes_of(KIT + AVC_PAYLOAD), "2.0") + record_of(sim::bytes_of(KIT + API_PAYLOAD), "2.0");
  }
  static void bind_payloads() { sim::set_resource(10, "#1", digests()); }
  static int run_updater() {
    char tail[] = "";
    return run(INSTANCE, 0, tail, SW_SHOWDEFAULT);
  }
  static int count(const std::string &line) {
    int n = 0;
    for (const auto &entry : sim::journal()) n += entry == line;
    return n;
  }
  void SetUp() override {
    MachineTest::SetUp();
    sim::set_module_path(EXE);
    record_own_path(INSTANCE);
    put_kit("2.0", "2.0");
    // Payloads that differ, so that a digest checked against the wrong one shows.
    for (const std::string &name : {AVC_PAYLOAD, API_PAYLOAD}) {
      sim::put_file(KIT + name, "MZ payload " + name);
      sim::set_file_version(KIT + name, "2.0");
    }
    install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
  }
};

TEST_F(PayloadDigestTest, PlainBuildTakesThePayloadsAsTheyAre) {
  sim::put_file(KIT + AVC_PAYLOAD, "MZ payload, changed in transit");
  sim::set_file_version(KIT + AVC_PAYLOAD, "2.0");
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"Update was succeeded."}, box_texts());
  EXPECT_EQ("MZ payload, changed in transit", sim::bytes_of(avc_in("C:\\T50")));
  EXPECT_EQ(0, sim::open_handles());
}

// Hashed while they are copied: each payload is opened once beside its
// presence check, and its bytes are read once.
TEST_F(PayloadDigestTest, MatchingPayloadsAreReadOnceAndCopied) {
  bind_payloads();
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"Update was succeeded."}, box_texts());
  EXPECT_EQ(sim::bytes_of(KIT + API_PAYLOAD), sim::bytes_of(api_in("C:\\T50")));
  for (const std::string &name : {AVC_PAYLOAD, API_PAYLOAD}) {
    EXPECT_EQ(2, count("open C:\\KIT\\" + name)) << name;
    EXPECT_EQ(2, count("read C:\\KIT\\" + name)) << name;  // the bytes, then the end
  }
  EXPECT_EQ(0, sim::open_handles());
}

TEST_F(PayloadDigestTest, PayloadChangedByOneByteIsRefusedAsCorrupt) {
  bind_payloads();
  std::string bytes = sim::bytes_of(KIT + API_PAYLOAD);
  bytes[3] ^= 1;
  ASSERT_TRUE(sim::tamper(KIT + API_PAYLOAD, bytes));
  sim::set_file_version(KIT + API_PAYLOAD, "2.0");
  EXPECT_EQ(PASS_FAILED, pass_with_kit("C:\\T50", 1));
  EXPECT_EQ(std::vector<std::string>{"The file or directory is corrupted and unreadable.\r\n  \n\n[ C:\\KIT\\" +
                                     API_PAYLOAD + "  ]"},
            box_texts());
  EXPECT_EQ(sim::bytes_of(KIT + AVC_PAYLOAD), sim::bytes_of(avc_in("C:\\T50"))) << "the first pair went through";
  EXPECT_EQ("MZ library 1.0", sim::bytes_of(api_in("C:\\T50")));
  EXPECT_FALSE(sim::exists("C:\\T50\\TRVNEW.TMP")) << "a refused payload leaves no copy";
  EXPECT_EQ(0, sim::open_handles());
}

TEST_F(PayloadDigestTest, DigestsAreBoundInPayloadTableOrder) {
  // Swapped digests refuse the first payload; digests that stop short
  // refuse the payload whose digest is missing.
  const std::string both = digests();
  const size_t RECORD = both.size() / 2;
  sim::set_resource(10, "#1", both.substr(RECORD) + both.substr(0, RECORD));
  EXPECT_EQ(PASS_FAILED, pass_with_kit("C:\\T50", 1));
  EXPECT_EQ(std::vector<std::string>{"The file or directory is corrupted and unreadable.\r\n  \n\n[ C:\\KIT\\" +
                                     AVC_PAYLOAD + "  ]"},
            box_texts());

  sim::reset();
  SetUp();
  sim::set_resource(10, "#1", both.substr(0, 2 * RECORD - 1));
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"The file or directory is corrupted and unreadable.\r\n  \n\n[ C:\\KIT\\" +
                                     API_PAYLOAD + "  ]"},
            box_texts());
  EXPECT_EQ(sim::bytes_of(KIT + AVC_PAYLOAD), sim::bytes_of(avc_in("C:\\T50")));
  EXPECT_EQ("MZ library 1.0", sim::bytes_of(api_in("C:\\T50")));
}

// Held from before its version is read until its copy has finished, and
// copied through that hold: a name swapped meanwhile (a junction above the
// kit's folder pointed elsewhere) changes nothing that is installed, in a
// plain build as in a release.
TEST_F(PayloadDigestTest, PayloadIsHeldAndCopiedThroughTheHold) {
  for (bool release : {true, false}) {
    sim::reset();
    SetUp();
    if (release) bind_payloads();
    bool tried = false;
    sim::on_call("WriteFile", [&] {
      if (tried) return;
      tried = true;
      EXPECT_FALSE(sim::tamper(KIT + AVC_PAYLOAD, "MZ something else"));
      EXPECT_FALSE(DeleteFileA((KIT + AVC_PAYLOAD).c_str()));
      EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());
      sim::relink(KIT + AVC_PAYLOAD, "MZ swapped in");
      sim::set_file_version(KIT + AVC_PAYLOAD, "2.0");
    });
    run_updater();
    EXPECT_TRUE(tried);
    EXPECT_EQ(std::vector<std::string>{"Update was succeeded."}, box_texts());
    EXPECT_EQ("MZ payload " + AVC_PAYLOAD, sim::bytes_of(avc_in("C:\\T50"))) << release;
    EXPECT_TRUE(sim::tamper(KIT + API_PAYLOAD, "MZ something else")) << "released after the pass";
  }
}

TEST_F(PayloadDigestTest, PayloadThatCannotBeReadIsReportedWithTheReason) {
  bind_payloads();
  sim::hold(KIT + AVC_PAYLOAD, sim::Hold::exclusive);
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"The process cannot access the file because it is being used by another "
                                     "process.\r\n  \n\n[ C:\\KIT\\" +
                                     AVC_PAYLOAD + "  ]"},
            box_texts());

  sim::reset();
  SetUp();
  bind_payloads();
  sim::fail_call(1, ERROR_NOT_ENOUGH_MEMORY, "ReadFile");
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"Not enough storage is available to process this command.\r\n  \n\n[ "
                                     "C:\\KIT\\" +
                                     AVC_PAYLOAD + "  ]"},
            box_texts());
  EXPECT_EQ("MZ library 1.0", sim::bytes_of(avc_in("C:\\T50")));
  EXPECT_EQ(0, sim::open_handles());
}

// A payload's name leads to another file from the start (a junction planted
// before the run): in a release it is neither installed nor deleted, whether
// a pass reads it or the clean-up has to hash it; its partner, which has its
// digest, goes.
TEST_F(PayloadDigestTest, ReleaseDeletesNoPayloadWithoutItsDigest) {
  for (DWORD family : {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS}) {
    for (bool installed : {true, false}) {
      const std::string where = std::to_string(family) + (installed ? ", installed" : "");
      SetUp();
      sim::set_platform(family);
      bind_payloads();
      if (!installed) sim::set_string(TRAVEN_KEY, "Path", "");
      std::string bytes = sim::bytes_of(KIT + AVC_PAYLOAD);
      bytes[5] ^= 1;
      sim::put_file(KIT + AVC_PAYLOAD, bytes);
      sim::set_file_version(KIT + AVC_PAYLOAD, "2.0");
      char tail[] = "/d";
      run(INSTANCE, 0, tail, SW_SHOWDEFAULT);
      EXPECT_EQ(bytes, sim::bytes_of(KIT + AVC_PAYLOAD)) << where;
      EXPECT_EQ("MZ library 1.0", sim::bytes_of(avc_in("C:\\T50"))) << where;
      EXPECT_FALSE(sim::exists(KIT + API_PAYLOAD)) << where;
      EXPECT_EQ(std::string::npos, sim::wininit_text().find(AVC_PAYLOAD)) << where << ": not scheduled either";
    }
  }
}

// The payload's version read by name could be another file's (an
// opportunistic lock tells when to swap the folder): a release decides by
// the version it carries, and an older payload never replaces a newer
// library.
TEST_F(PayloadDigestTest, ReleaseDecidesByTheVersionItCarries) {
  bind_payloads();
  install(TRAVEN_KEY, "C:\\T50", "3.0", "3.0");
  sim::on_call("GetFileVersionInfoA", [] {
    for (const std::string &name : {AVC_PAYLOAD, API_PAYLOAD}) {
      sim::relink(KIT + name, "MZ decoy");
      sim::set_file_version(KIT + name, "9.0");
    }
  });
  run_updater();
  EXPECT_EQ(std::vector<std::string>{"Newer version exist."}, box_texts());
  EXPECT_EQ("MZ library 3.0", sim::bytes_of(avc_in("C:\\T50")));
}
