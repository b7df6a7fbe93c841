#include "messages/catalogue.h"

#include <string>

#include "machine_fixture.h"
#include "run/run.h"

using CatalogueTest = MachineTest;

static const UINT IDS[] = {1, 2, 3, 4, 5, 7};
static const char *const ENGLISH[] = {"PELLAXION-ZEL1/2 or TRAVEN-60 is not found.",
                                      "Can not get version info.",
                                      "Newer version exist.",
                                      "Files in use. Please stop application using TRAVEN-60.",
                                      "Update was succeeded.",
                                      "No need to update."};

static std::vector<std::string> show_all() {
  for (UINT id : IDS) show_catalogue_message(INSTANCE, id);
  std::vector<std::string> texts;
  for (const auto &box : sim::boxes()) {
    EXPECT_EQ("TRAVEN-60 Update", box.caption);
    EXPECT_EQ(MB_SYSTEMMODAL, box.style);
    texts.push_back(box.text);
  }
  return texts;
}

TEST_F(CatalogueTest, EnglishInterfaceShowsTheEnglishTexts) {
  EXPECT_EQ(std::vector<std::string>(std::begin(ENGLISH), std::end(ENGLISH)), show_all());
}

TEST_F(CatalogueTest, MissingStringTableLeavesTheEnglishFallback) {
  sim::remove_string_tables();
  EXPECT_EQ(std::vector<std::string>(std::begin(ENGLISH), std::end(ENGLISH)), show_all());
  sim::reset();
  sim::set_ui_language(0x0407);  // German: no table of its own
  EXPECT_EQ(std::vector<std::string>(std::begin(ENGLISH), std::end(ENGLISH)), show_all());
}

TEST_F(CatalogueTest, JapaneseInterfaceShowsTheJapaneseTexts) {
  sim::set_ui_language(1041);
  sim::set_code_page(932);
  const char *const japanese[] = {
      "PELLAXION-ZEL1/2又はTRAVEN-60がインストールされていません。",
      "バージョン情報の取得ができませんでした。\nインストール先を確認してください。",
      "新しいバージョンがすでに存在しています。",
      "ファイルのコピーができません。\nTRAVEN-60を使用しているアプリケーションを\n停止し再度実行してください。",
      "アップデートが終了しました",
      "アップデートの必要はありません。",
  };
  std::vector<std::string> expected;
  for (const char *text : japanese) expected.push_back(sim::to_cp932(text));
  EXPECT_EQ(expected, show_all());
}

// The 512-byte buffer holds a text of 511 bytes whole; the system cuts a
// longer one to fit it, and nothing lands past it.
TEST_F(CatalogueTest, StringTableTextFillsTheBufferAndNoMore) {
  sim::set_ui_language(1041);
  sim::set_code_page(932);
  for (size_t length : {511u, 512u}) {
    sim::set_table_text(1041, MSG_UPDATED, std::string(length, 'u'));
    show_catalogue_message(INSTANCE, MSG_UPDATED);
  }
  EXPECT_EQ(std::vector<std::string>(2, std::string(511, 'u')), box_texts());
}

// Every box of a run, over the interface language, the regional settings,
// the ANSI code page and the family: each box is whole English or whole
// Japanese, and never holds a "?" the conversion made up (no text of the
// catalogue or of the system's holds one).
class BoxLanguageTest : public MachineTest {
 protected:
  enum Family { NINE_X, NT4, NT5 };
  struct Row {
    Family family;
    WORD ui, regional;
    UINT code_page;
  };
  static void set_up(const Row &row) {
    sim::reset();
    sim::set_platform(row.family == NINE_X ? VER_PLATFORM_WIN32_WINDOWS : VER_PLATFORM_WIN32_NT);
    sim::set_nt_version(row.family == NT4 ? 4 : 5, row.family == NT4 ? 0 : 1);
    sim::set_ui_language(row.ui);
    sim::set_regional_language(row.regional);
    sim::set_code_page(row.code_page);
  }
  static std::vector<std::string> run_updater() {
    char tail[] = "";
    run(INSTANCE, 0, tail, SW_SHOWDEFAULT);
    return box_texts();
  }
};

TEST_F(BoxLanguageTest, EachBoxIsInALanguageTheCodePageCarries) {
  const std::string updated_ja = sim::to_cp932("アップデートが終了しました");
  const std::string missing_ja = sim::to_cp932("指定されたファイルが見つかりません。\r\n");
  const std::string missing_en = "The system cannot find the file specified.\r\n";
  int rows = 0;
  for (Family family : {NINE_X, NT4, NT5})
    for (WORD ui : {1033, 1041})
      for (WORD regional : {1033, 1041})
        for (UINT code_page : {1252u, 932u}) {
          // A 9x system speaks its own language in its own code page.
          if (family == NINE_X && (ui == 1041) != (code_page == 932)) continue;
          const Row row = {family, ui, regional, code_page};
          const std::string where = "family " + std::to_string(family) + ", UI " + std::to_string(ui) + ", regional " +
                                    std::to_string(regional) + ", code page " + std::to_string(code_page);
          ++rows;
          // The string table: by the UI language on 2000 and later, else by
          // the regional settings; Japanese only where 932 carries it.
          const WORD table = family == NT5 ? ui : regional;
          const bool japanese_box = table == 1041 && code_page == 932;
          // The system's reason: in the language Windows speaks, where the
          // code page carries it.
          const bool japanese_reason = ui == 1041 && code_page == 932;

          set_up(row);
          put_kit("2.0", "2.0");
          install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
          const std::vector<std::string> outcome = run_updater();
          EXPECT_EQ(std::vector<std::string>{japanese_box ? updated_ja : "Update was succeeded."}, outcome) << where;

          // The first payload is missing: the presence check's box.
          set_up(row);
          sim::put_file(EXE, "MZ updater");
          put_library(KIT + API_PAYLOAD, "2.0");
          install(TRAVEN_KEY, "C:\\T50", "1.0", "1.0");
          const std::vector<std::string> presence = run_updater();
          const std::string reason = japanese_reason ? missing_ja : missing_en;
          EXPECT_EQ(std::vector<std::string>{reason + "  \n\n[ C:\\KIT\\" + AVC_PAYLOAD + "  ]"}, presence) << where;

          for (const std::vector<std::string> *texts : {&outcome, &presence})
            for (const std::string &text : *texts)
              EXPECT_EQ(std::string::npos, text.find('?')) << where << ": " << text;
        }
  EXPECT_EQ(20, rows);
}
