#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "browse/error.h"
#include "file_size_limit.h"
#include "browse/value.h"
#include "support/error_info.h"

using fitest::TakeErrorDescription;

namespace {

TEST(RaiseFIErrorTest, InstallsErrorInfoOnlyForFailuresWithText) {
    TakeErrorDescription();
    const struct {
        HRESULT hr;
        const char* text;
        bool installed;
    } rows[] = {{S_OK, "ignored", false},
                {S_FALSE, "ignored", false},
                {E_FAIL, "", false},
                {E_FAIL, nullptr, false},
                {E_UNEXPECTED, "Node deleted \xc3\xa9", true}};
    for (const auto& r : rows) {
        EXPECT_EQ(RaiseFIError(r.hr, r.text), r.hr);
        EXPECT_EQ(TakeErrorDescription(), r.installed ? std::optional<std::string>(r.text) : std::nullopt) << r.hr;
    }
}

TEST(RaiseFIErrorTest, FIErrorBecomesItsResult) {
    FIError error("Cannot modify attribute value");
    FIError copy(error);
    EXPECT_EQ(error.ToHRESULT(), static_cast<HRESULT>(0x8004B001));
    EXPECT_EQ(TakeErrorDescription(), "Cannot modify attribute value");
    EXPECT_EQ(copy.ToHRESULT(), static_cast<HRESULT>(0x8004B001));
    EXPECT_EQ(TakeErrorDescription(), "Cannot modify attribute value");
    // An empty message means success.
    copy.SetMessage("");
    EXPECT_TRUE(copy.IsEmpty());
    EXPECT_EQ(copy.ToHRESULT(), S_OK);
    EXPECT_EQ(FIError().ToHRESULT(), S_OK);
    EXPECT_FALSE(TakeErrorDescription());
    FIError numeric;
    numeric.Message().SetInt(3);
    EXPECT_EQ(numeric.ToHRESULT(), E_FAIL);
}

std::string ReadFile(const std::string& name) {
    std::ifstream in(name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("browse_log_" + std::to_string(GetCurrentProcessId()));
        std::filesystem::create_directories(dir_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_);
        ResetErrorLog();
    }
    void TearDown() override {
        ResetErrorLog();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }
    std::filesystem::path dir_;
    std::filesystem::path previous_;
};

TEST_F(ErrorLogTest, FirstLineStartsTheDefaultFileWithHeader) {
    WriteErrorLogLine("first problem");
    WriteErrorLogLine("second");
    std::string text = ReadFile("NUIErrors.log");
    std::regex pattern(R"( FI Error Log, \d\d:\d\d:\d\d, \d\d/\d\d/\d\d\n\n first problem\n second\n)");
    EXPECT_TRUE(std::regex_match(text, pattern)) << text;
}

// A log started again over an older one replaces it whole or not at all: where the disk takes no more
// than a few bytes, the older log stays as it was and nothing stays beside it.
TEST_F(ErrorLogTest, ALogThatCannotBeStartedKeepsTheOlderOne) {
    std::ofstream("old.log") << "an older log\n";
    {
        nuv::test::FileSizeLimit limit(8);
        StartErrorLog("old.log");
    }
    EXPECT_EQ(ReadFile("old.log"), "an older log\n");
    EXPECT_EQ(nuv::test::FolderEntries(dir_.string()), (std::set<std::string>{"old.log"}));
    StartErrorLog("old.log");
    EXPECT_EQ(ReadFile("old.log").rfind(" FI Error Log, ", 0), 0u);
}

TEST_F(ErrorLogTest, LevelsFilterLines) {
    SetErrorLogFile("levels.log");
    for (int level = 1; level <= 6; ++level) LogError(("level " + std::to_string(level)).c_str(), level);
    EXPECT_EQ(SetErrorLogLevel(2), 5);
    LogError("kept", 2);
    LogError("dropped", 3);
    std::string text = ReadFile("levels.log");
    for (int level = 1; level <= 5; ++level) EXPECT_NE(text.find("level " + std::to_string(level)), std::string::npos);
    EXPECT_EQ(text.find("level 6"), std::string::npos);
    EXPECT_NE(text.find(" kept\n"), std::string::npos);
    EXPECT_EQ(text.find("dropped"), std::string::npos);
}

TEST_F(ErrorLogTest, RenamingWhileStartedResetsAndStartsAFreshFile) {
    StartErrorLog("one.log");
    WriteErrorLogLine("in one");
    SetErrorLogLevel(1);
    SetErrorLogFile("two.log");
    LogError("at level 5", 5);  // the reset put the level back to 5
    EXPECT_NE(ReadFile("one.log").find(" in one\n"), std::string::npos);
    std::string two = ReadFile("two.log");
    EXPECT_EQ(two.rfind(" FI Error Log, ", 0), 0u);
    EXPECT_NE(two.find(" at level 5\n"), std::string::npos);
}

TEST_F(ErrorLogTest, LongNamesAreCutAndUnopenableFilesIgnored) {
    std::string longName(300, 'n');
    SetErrorLogFile(longName.c_str());
    EXPECT_EQ(GetErrorLogFileName(), std::string(127, 'n'));
    SetErrorLogFile("missing_dir/x.log");
    WriteErrorLogLine("nowhere");  // must not fail or create anything
    EXPECT_FALSE(std::filesystem::exists("missing_dir"));
}

}  // namespace
