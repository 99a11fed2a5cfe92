// The user's dictionary of event codes: the lines it takes, the lines it refuses and says why,
// and the user's file overriding the system's, read from real folders.
#include "archive/EventDictionary.h"

#include <cstdlib>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

namespace kve17::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEventDictionary Read(const std::string& text, std::vector<std::string>& problems) {
    TEventDictionary dictionary;
    std::istringstream in(text);
    dictionary.Read(in, "kve17.txt", problems);
    return dictionary;
}

TEST(EventDictionary, TakesCodesInDecimalOrHexWithAnOptionalSeverity) {
    std::vector<std::string> problems;
    const auto dictionary = Read("# код; название; важность\n"
                                 "\n"
                                 "  3 ;  Дверь открыта ; предупреждение\r\n"
                                 "0x1C;Обрыв датчика;авария\n"
                                 "7; Пуск\n"
                                 "8; Останов;\n"
                                 "   # 9; закомментировано\n",
                                 problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(dictionary.Size(), 4u);
    ASSERT_NE(dictionary.Find(3), nullptr);
    EXPECT_EQ(dictionary.Find(3)->Name, "Дверь открыта");
    EXPECT_EQ(dictionary.Find(3)->Severity, TSeverity::Warning);
    ASSERT_NE(dictionary.Find(28), nullptr);
    EXPECT_EQ(dictionary.Find(28)->Name, "Обрыв датчика");
    EXPECT_EQ(dictionary.Find(28)->Severity, TSeverity::Alarm);
    EXPECT_EQ(dictionary.Find(7)->Severity, TSeverity::None);
    EXPECT_EQ(dictionary.Find(8)->Name, "Останов");
    EXPECT_EQ(dictionary.Find(9), nullptr);
    EXPECT_EQ(dictionary.CodesOf(TSeverity::Alarm), (std::set<int>{28}));
    EXPECT_EQ(dictionary.CodesOf(TSeverity::None), (std::set<int>{7, 8}));
    EXPECT_EQ(dictionary.CodesOf(TSeverity::Info), (std::set<int>{}));
}

TEST(EventDictionary, ABadLineIsNamedAndLeftOutWhileTheRestCount) {
    std::vector<std::string> problems;
    const auto dictionary = Read("1; Пуск; информация\n"
                                 "256; Слишком большой\n"
                                 "x; Не код\n"
                                 "2;\n"
                                 "3\n"
                                 "4; Четыре; важно\n"
                                 "5; a; b; c\n"
                                 "6; Шесть; авария\n",
                                 problems);
    EXPECT_EQ(dictionary.Size(), 2u);
    EXPECT_EQ(dictionary.Find(1)->Severity, TSeverity::Info);
    EXPECT_EQ(dictionary.Find(6)->Name, "Шесть");
    ASSERT_EQ(problems.size(), 6u);
    EXPECT_THAT(problems[0], HasSubstr("kve17.txt, строка 2: «256» — не код"));
    EXPECT_THAT(problems[1], HasSubstr("строка 3: «x» — не код"));
    EXPECT_THAT(problems[2], HasSubstr("строка 4: нет названия кода 2"));
    EXPECT_THAT(problems[3], HasSubstr("строка 5: нужно «код; название; важность»"));
    EXPECT_THAT(problems[4], HasSubstr("строка 6: важность «важно» не из списка"));
    EXPECT_THAT(problems[5], HasSubstr("строка 7: нужно"));
}

TEST(EventDictionary, SeverityWords) {
    EXPECT_EQ(SeverityText(TSeverity::Info), "информация");
    EXPECT_EQ(SeverityText(TSeverity::Warning), "предупреждение");
    EXPECT_EQ(SeverityText(TSeverity::Alarm), "авария");
    EXPECT_EQ(SeverityText(TSeverity::None), "");
    EXPECT_EQ(ParseSeverity("авария"), TSeverity::Alarm);
    EXPECT_EQ(ParseSeverity("Авария"), std::nullopt);
    EXPECT_EQ(ParseSeverity(""), std::nullopt);
}

class DictionaryFolders : public ::testing::Test {
protected:
    DictionaryFolders() {
        char pattern[] = "/tmp/kve17-events-XXXXXX";
        root = mkdtemp(pattern);
        system = root / "etc";
        user = root / "user";
        std::filesystem::create_directories(system);
        std::filesystem::create_directories(user);
    }
    ~DictionaryFolders() override { std::filesystem::remove_all(root); }
    static void Write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream(file) << text;
    }

    std::filesystem::path root, system, user;
};

TEST_F(DictionaryFolders, TheUsersNamesOverrideTheSystemsCodeByCode) {
    Write(system / "kve17.txt", "1; Пуск; информация\n2; Останов; предупреждение\n");
    Write(user / "kve17.txt", "2; Остановлен оператором; авария\n3; Свой код\n");
    Write(user / "other.txt", "1; не тот файл\n");
    std::vector<std::string> problems;
    const auto dictionary = LoadEventDictionary({system, user}, problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(dictionary.Size(), 3u);
    EXPECT_EQ(dictionary.Find(1)->Name, "Пуск");
    EXPECT_EQ(dictionary.Find(2)->Name, "Остановлен оператором");
    EXPECT_EQ(dictionary.Find(2)->Severity, TSeverity::Alarm);
    EXPECT_EQ(dictionary.Find(3)->Name, "Свой код");
}

// The example the package ships shows the form alone: it names no code, and reads without
// a problem; its placeholder lines, once uncommented, are read as lines of the form.
TEST(EventDictionaryExample, NamesNoCodeAndShowsTheForm) {
    std::vector<std::string> problems;
    TEventDictionary example;
    example.ReadFile(KVE17_SOURCE_DIR "/packaging/events/kve17.txt", problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_TRUE(example.Empty());

    std::ifstream in(KVE17_SOURCE_DIR "/packaging/events/kve17.txt");
    std::string text, line;
    while (std::getline(in, line))
        if (line.rfind("# 0x", 0) == 0)
            text += line.substr(2) + "\n";
    const auto uncommented = Read(text, problems);
    EXPECT_TRUE(problems.empty());
    EXPECT_EQ(uncommented.Size(), 2u);
    ASSERT_NE(uncommented.Find(1), nullptr);
    EXPECT_EQ(uncommented.Find(1)->Severity, TSeverity::Alarm);
}

TEST_F(DictionaryFolders, MissingFilesGiveAnEmptyDictionaryAndAnUnreadableOneIsAProblem) {
    std::vector<std::string> problems;
    EXPECT_TRUE(LoadEventDictionary({system, user, root / "none"}, problems).Empty());
    EXPECT_TRUE(problems.empty());

    // A folder where the file should be cannot be read as one.
    std::filesystem::create_directory(user / "kve17.txt");
    Write(system / "kve17.txt", "1; Пуск\n");
    const auto dictionary = LoadEventDictionary({system, user}, problems);
    EXPECT_EQ(dictionary.Size(), 1u);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_THAT(problems[0], HasSubstr((user / "kve17.txt").string()));
}

TEST_F(DictionaryFolders, TheUsersFolderFollowsXdgConfigHome) {
    const char* before = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = before ? before : "";
    setenv("XDG_CONFIG_HOME", user.c_str(), 1);
    const auto folders = EventDictionaryFolders();
    if (before)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    EXPECT_THAT(folders,
                ElementsAre(std::filesystem::path("/etc/kve17/events"), user / "kve17" / "events"));
}

} // namespace
} // namespace kve17::test
