// Tests of the debug log: flag file syntax and lookup, the printf and stream
// operations, and the postpone rule.
#include "debug_log.h"
#include "debug_log_control.h"
#include "debug_log_stream.h"
#include "debug_log_throttle.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <atomic>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>

namespace {

// Captures everything the log emits while it lives.
class CapturedOutput
{
public:
    CapturedOutput()
    {
        debug_log_set_sink([this](const char* text, std::size_t length) {
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(text, length);
        });
    }
    ~CapturedOutput() { debug_log_set_sink(nullptr); }
    std::string text()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

private:
    std::mutex mutex_;
    std::string text_;
};

class DebugLogTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        debug_log_stream_output_postponed = false;
        debug_log_load_flags_from_text("");
        unsetenv("DEBUG_LOG_CONF");
    }
};

struct ParseCase
{
    const char* name;
    std::string text;
    std::vector<std::string> flags;
};

TEST_F(DebugLogTest, ConfigurationSyntax)
{
    const std::vector<ParseCase> cases = {
        {"empty", "", {}},
        {"one flag", "DEBUG_STARTUP", {"DEBUG_STARTUP"}},
        {"blank lines and comments", "\n# DEBUG_STARTUP\n\nDISABLE_ETH0\n   \n", {"DISABLE_ETH0"}},
        {"trailing comment and blanks", "  DEBUG_STARTUP   # show start-up\n", {"DEBUG_STARTUP"}},
        {"windows line ends", "A_FLAG\r\nB_FLAG\r\n", {"A_FLAG", "B_FLAG"}},
        {"duplicates collapse", "X\nX\n", {"X"}},
        {"digits allowed", "SET_JITTER_BUFFER_500", {"SET_JITTER_BUFFER_500"}},
        {"words with spaces ignored", "TWO WORDS\nGOOD\n", {"GOOD"}},
        {"punctuation ignored", "BAD-FLAG\nBAD=1\nOK_1\n", {"OK_1"}},
        {"binary garbage ignored", std::string("\x01\xff\xfe\n\0ZZ", 7), {}},
        {"no final line end", "LAST", {"LAST"}},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(debug_log_parse_flags(c.text), c.flags) << c.name;
}

TEST_F(DebugLogTest, OverlongNameIsNotAFlag)
{
    const std::string longName(500, 'A');
    EXPECT_TRUE(debug_log_parse_flags(longName + "\nSHORT\n") == std::vector<std::string>{"SHORT"});
}

TEST_F(DebugLogTest, FlagsAreExactAndCaseSensitive)
{
    debug_log_load_flags_from_text("DEBUG_STARTUP\nDISABLE_ETH0\n");
    EXPECT_TRUE(debug_log_is_enabled("DEBUG_STARTUP"));
    EXPECT_TRUE(debug_log_is_enabled("DISABLE_ETH0"));
    EXPECT_FALSE(debug_log_is_enabled("debug_startup"));
    EXPECT_FALSE(debug_log_is_enabled("DEBUG_START"));
    EXPECT_FALSE(debug_log_is_enabled("DEBUG_STARTUP_V"));
    EXPECT_FALSE(debug_log_is_enabled(""));
    EXPECT_FALSE(debug_log_is_enabled(nullptr));
}

TEST_F(DebugLogTest, FlagsComeFromTheFileNamedByTheEnvironment)
{
    const std::string path = ::testing::TempDir() + "debug_log_test.conf";
    std::ofstream(path) << "# test flags\nBLOCK_HALVANE_RX\n";
    setenv("DEBUG_LOG_CONF", path.c_str(), 1);
    debug_log_reload_flags();
    EXPECT_TRUE(debug_log_is_enabled("BLOCK_HALVANE_RX"));
    EXPECT_EQ(debug_log_config_path(), path);
}

TEST_F(DebugLogTest, MissingOrUnreadableFileMeansNoFlags)
{
    debug_log_load_flags_from_text("SOMETHING_SET\n");
    setenv("DEBUG_LOG_CONF", "/nonexistent/folder/debug_log.conf", 1);
    debug_log_reload_flags();
    EXPECT_FALSE(debug_log_is_enabled("SOMETHING_SET"));
    EXPECT_TRUE(debug_log_enabled_flags().empty());
    setenv("DEBUG_LOG_CONF", ::testing::TempDir().c_str(), 1); // a folder, not a file
    debug_log_reload_flags();
    EXPECT_TRUE(debug_log_enabled_flags().empty());
}

TEST_F(DebugLogTest, PrintfOnlyUnderItsFlag)
{
    debug_log_load_flags_from_text("ON_FLAG\n");
    CapturedOutput out;
    debug_log_printf("ON_FLAG", "shown %d\n", 1);
    debug_log_printf("OFF_FLAG", "hidden %d\n", 2);
    debug_log_printf_always("always %s\n", "here");
    EXPECT_EQ(out.text(), "shown 1\nalways here\n");
}

TEST_F(DebugLogTest, LongMessagesAreEmittedWhole)
{
    CapturedOutput out;
    const std::string text(5000, 'x');
    debug_log_printf_always("%s|", text.c_str());
    EXPECT_EQ(out.text(), text + "|");
}

TEST_F(DebugLogTest, OutputStringAddsNothing)
{
    CapturedOutput out;
    debug_log_output_string("no line end");
    debug_log_output_string(nullptr);
    EXPECT_EQ(out.text(), "no line end");
}

TEST_F(DebugLogTest, StreamFollowsItsFlag)
{
    debug_log_load_flags_from_text("ON_FLAG\n");
    CapturedOutput out;
    debug_log_cout("ON_FLAG") << "value " << 42 << " " << -7 << " " << 3u << "\n";
    debug_log_cout("OFF_FLAG") << "never " << 1 << "\n";
    get_debug_log_ostream_enabled() << "warning" << "\n";
    EXPECT_EQ(out.text(), "value 42 -7 3\nwarning\n");
}

TEST_F(DebugLogTest, HexLastsUntilTheEndOfTheMessage)
{
    CapturedOutput out;
    get_debug_log_ostream_enabled() << "id " << std::hex << 255 << " " << 16 << "\n";
    get_debug_log_ostream_enabled() << 255 << "\n";
    EXPECT_EQ(out.text(), "id ff 10\n255\n");
}

enum class MessageType { Subscription = 1, GroupMsg = 2 };

TEST_F(DebugLogTest, EnumerationsAndByteStringsPrint)
{
    CapturedOutput out;
    const unsigned char bytes[] = "abc";
    get_debug_log_ostream_enabled() << MessageType::GroupMsg << " " << bytes << "\n";
    EXPECT_EQ(out.text(), "2 abc\n");
}

TEST_F(DebugLogTest, PostponedStreamsEmitNothingButPrintfStillDoes)
{
    CapturedOutput out;
    debug_log_output_stream_t privateStream;
    debug_log_stream_output_postponed = true;
    get_debug_log_ostream_enabled() << "hidden\n";
    privateStream << "hidden too\n";
    debug_log_printf_always("printf\n");
    debug_log_stream_output_postponed = false;
    get_debug_log_ostream_enabled() << "shown\n";
    privateStream << "private " << 5 << "\n";
    EXPECT_EQ(out.text(), "printf\nshown\nprivate 5\n");
}

TEST_F(DebugLogTest, ThreadsNeverMixPiecesOfOneInsertion)
{
    CapturedOutput out;
    debug_log_output_stream_t shared;
    auto writer = [&shared](char letter) {
        const std::string piece(20, letter);
        for (int i = 0; i < 200; ++i) {
            get_debug_log_ostream_enabled() << piece;
            shared << piece;
        }
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const std::string text = out.text();
    ASSERT_EQ(text.size(), 2u * 2 * 200 * 20);
    for (std::size_t i = 0; i < text.size(); i += 20)
        EXPECT_EQ(text.substr(i, 20), std::string(20, text[i])) << "at " << i;
}

// A sink that logs itself (or asks for flags) must not wait for the lock it
// runs under; what it logs goes to standard error, not back into it.
TEST_F(DebugLogTest, ASinkThatLogsItselfNeitherHangsNorRecurses)
{
    auto calls = std::make_shared<std::atomic<int>>(0);
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([calls, done] {
        debug_log_set_sink([calls](const char*, std::size_t) {
            ++*calls;
            debug_log_is_enabled("ANY_FLAG");
            debug_log_printf_always("logged by the sink\n");
        });
        debug_log_printf_always("first\n");
        debug_log_set_sink(nullptr);
        done->set_value();
    }).detach();
    ASSERT_EQ(finished.wait_for(std::chrono::seconds(5)), std::future_status::ready) << "the sink hung the log";
    EXPECT_EQ(calls->load(), 1);
}

// The throttle on a hand-driven time line: which occurrences the caller
// prints in full, and which summary lines come out when.
TEST_F(DebugLogTest, ThrottlePrintsFirstOccurrencesInFullAndCountsTheRest)
{
    using namespace std::chrono;
    const debug_log_throttle_t::clock::time_point t0;
    struct Step
    {
        int atSecond;
        bool flushOnly;     // a poll without an occurrence
        bool printInFull;   // what occurred() answers
        const char* output; // what the step printed
    };
    const Step steps[] = {
        {0, false, true, ""},
        {1, false, false, ""},
        {9, false, false, ""},
        {10, false, false, "Dropped 2 more bad things in the last 10 s\n"}, // counted into the next
        {12, false, false, ""},
        {15, true, false, ""},
        {20, true, false, "Dropped 2 more bad things in the last 10 s\n"},
        {31, false, true, ""}, // a quiet interval went by
        {32, false, false, ""},
    };
    CapturedOutput out;
    std::size_t seen = 0;
    {
        debug_log_throttle_t throttle("Dropped", "bad things");
        for (const Step& step : steps) {
            const auto now = t0 + seconds(step.atSecond);
            if (step.flushOnly)
                throttle.flush(now);
            else
                EXPECT_EQ(throttle.occurred(now), step.printInFull) << "at " << step.atSecond << " s";
            EXPECT_EQ(out.text().substr(seen), step.output) << "at " << step.atSecond << " s";
            seen = out.text().size();
        }
        EXPECT_EQ(throttle.total(), 7u);
    }
    EXPECT_EQ(out.text().substr(seen, 38), "Dropped 1 more bad things in the last ") << "told when it goes";
}

TEST_F(DebugLogTest, ThrottledFloodGivesFewLinesWhoseCountsAddUp)
{
    using namespace std::chrono;
    const debug_log_throttle_t::clock::time_point t0;
    constexpr int kOccurrences = 100000; // over 50 s
    CapturedOutput out;
    int printedInFull = 0;
    {
        debug_log_throttle_t throttle("Dropped", "bad things");
        for (int i = 0; i < kOccurrences; ++i)
            printedInFull += throttle.occurred(t0 + microseconds(i * 500)) ? 1 : 0;
    }
    const std::string text = out.text();
    const std::regex summary("Dropped (\\d+) more bad things in the last \\d+ s\n");
    long long summarised = 0;
    int lines = 0;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), summary); it != std::sregex_iterator(); ++it) {
        summarised += std::stoll((*it)[1]);
        ++lines;
    }
    EXPECT_EQ(printedInFull, 1);
    EXPECT_LE(lines, 6);
    EXPECT_EQ(printedInFull + summarised, kOccurrences);
}

} // namespace
