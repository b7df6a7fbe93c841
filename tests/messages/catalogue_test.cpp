#include "messages/catalogue.h"

#include <string>

#include "machine_fixture.h"

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
