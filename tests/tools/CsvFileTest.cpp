// The CSV writer against the files it meets (new, empty, holding rows, without their last break, full,
// a FIFO without a reader or whose reader goes away, a file that a limit cuts mid-row) and the echoed
// form of a value in messages.
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/CsvFile.h"
#include "tools/Utf8Text.h"

namespace {

namespace fs = std::filesystem;

class CsvFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("csvfile-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string read(const std::string& file) {
        std::ifstream in(file);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir_;
};

// What a file holds after open (header "t,v") and one row, by what it held before.
TEST_F(CsvFileTest, AppendingStartsARowOnALineOfItsOwnAndTheHeaderOnlyInAnEmptyFile) {
    struct Case {
        const char* name;
        std::optional<std::string> before; // nothing: no file
        std::string after;
    };
    const Case cases[] = {
        {"new", std::nullopt, "t,v\n1,2\n"},
        {"empty", "", "t,v\n1,2\n"},
        {"whole rows", "t,v\n0,1\n", "t,v\n0,1\n1,2\n"},
        {"last break missing", "t,v\n0,1", "t,v\n0,1\n1,2\n"},
        {"a lone cut row", "0,", "0,\n1,2\n"},
    };
    for (const Case& c : cases) {
        const std::string file = path(c.name);
        if (c.before) {
            std::ofstream(file) << *c.before;
        }
        tools::CsvFile csv;
        ASSERT_TRUE(csv.open(file, "t,v")) << c.name << ": " << csv.error();
        ASSERT_TRUE(csv.writeLine("1,2")) << c.name << ": " << csv.error();
        EXPECT_EQ(read(file), c.after) << c.name;
        EXPECT_EQ(csv.rows(), 1u);
    }
}

// Each way open fails: the reason, and a closed writer that takes no row.
TEST_F(CsvFileTest, AFileThatCannotTakeRowsIsRefusedWithItsReason) {
    ASSERT_EQ(::mkfifo(path("fifo").c_str(), 0600), 0);
    const int cancel = ::eventfd(1, EFD_CLOEXEC); // already signalled: Ctrl+C came
    struct Case {
        std::string path;
        tools::OutputWait wait;
        std::string reason;
    };
    const Case cases[] = {
        {"/dev/full", {}, "No space left on device"},
        {path(""), {}, "Is a directory"},
        {path("missing/x.csv"), {}, "No such file or directory"},
        {path("fifo"), {.peerMs = 50}, "does a program read from it?"},
        {path("fifo"), {.peerMs = -1, .cancelFd = cancel}, "interrupted"},
    };
    for (const Case& c : cases) {
        tools::CsvFile csv;
        EXPECT_FALSE(csv.open(c.path, "t,v", c.wait)) << c.path;
        EXPECT_NE(csv.error().find(c.reason), std::string::npos) << c.path << ": " << csv.error();
        EXPECT_FALSE(csv.isOpen());
        EXPECT_FALSE(csv.writeLine("1,2"));
        EXPECT_NE(csv.error().find(c.reason), std::string::npos) << "the first reason is kept";
    }
    ::close(cancel);
}

// A FIFO's reader that goes away is an error of the write, never SIGPIPE ending the program (the test
// keeps SIGPIPE's default, which would kill it).
TEST_F(CsvFileTest, AReaderThatGoesAwayFailsTheWriteWithoutASignal) {
    ASSERT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_DFL);
    const std::string fifo = path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    tools::CsvFile csv;
    ASSERT_TRUE(csv.open(fifo, "t,v")) << csv.error();
    ASSERT_TRUE(csv.writeLine("1,2"));
    char got[16] = {};
    ASSERT_EQ(::read(reader, got, sizeof got), 8) << "the header starts every stream";
    EXPECT_EQ(std::string(got, 8), "t,v\n1,2\n");
    ::close(reader);
    EXPECT_FALSE(csv.writeLine("3,4"));
    EXPECT_EQ(csv.error(), "Broken pipe");
    EXPECT_EQ(csv.rows(), 1u);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "no SIGPIPE left pending either";
}

// A row the disk takes only in part is cut off again: the file never holds half a row. Run in a child,
// since the file size limit holds for the whole process.
TEST_F(CsvFileTest, ARowThatDoesNotGoInWholeLeavesNoHalfOfIt) {
    const std::string file = path("limited.csv");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{12, 12};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        tools::CsvFile csv;
        const bool ok = csv.open(file, "time,v") && csv.writeLine("1") && !csv.writeLine("2,3,4,5") &&
                        csv.error() == "File too large";
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(read(file), "time,v\n1\n");
}

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"101.3", "101.3"},
        {"", ""},
        {"a,b", "\"a,b\""},
        {"say \"hi\"", "\"say \"\"hi\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {" padded", "\" padded\""},
        {"\xE2\x84\x83", "\xE2\x84\x83"},
    };
    for (const auto& [field, written] : cases) {
        EXPECT_EQ(tools::CsvField(field), written) << field;
    }
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

// What a message shows of a value: printable as it stands, the rest escaped, at most 80 characters of
// it, an escape never split.
TEST(EchoText, ShowsAtMostEightyPrintableCharactersOfAnyBytes) {
    const std::pair<std::string, std::string> cases[] = {
        {"ttyUSB0", "ttyUSB0"},
        {"\xFF\xFE", "\\xFF\\xFE"},
        {"a\nb\x1B[2J", "a\\x0Ab\\x1B[2J"},
        {"back\\slash", "back\\x5Cslash"},
        {"\xC2\x85 C1", "\\xC2\\x85 C1"},
        {"\xC2\xB0"
         "C",
         "\xC2\xB0"
         "C"},
        {"\x7F", "\\x7F"},
        {std::string(80, 'x'), std::string(80, 'x')},
        {std::string(81, 'x'), std::string(80, 'x') + "... (81 bytes)"},
        {std::string(20'000'000, 'z'), std::string(80, 'z') + "... (20000000 bytes)"},
        {std::string(78, 'x') + "\xFF", std::string(78, 'x') + "... (79 bytes)"},
        {std::string(30, '\xFF'), repeated("\\xFF", 20) + "... (30 bytes)"},
    };
    for (const auto& [bytes, shown] : cases) {
        bool cut = false;
        EXPECT_EQ(tools::EchoText(bytes, &cut), shown) << shown;
        EXPECT_EQ(cut, shown.ends_with(" bytes)")) << shown;
    }
}

// A name too long to echo whole keeps both its ends, since its end (the file, the port's number) is what
// tells it apart.
TEST(EchoText, ANameIsCutInTheMiddle) {
    const std::string folder = "/tmp/" + std::string(100, 'f');
    const std::pair<std::string, std::string> cases[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {folder + "/watch.csv",
         "/tmp/" + std::string(33, 'f') + "..." + std::string(29, 'f') + "/watch.csv (115 bytes)"},
        {std::string(100, 'a') + "\x1B",
         std::string(38, 'a') + "..." + std::string(35, 'a') + "\\x1B (101 bytes)"},
        {std::string(100, 'a') + "\xE2\x84\x83",
         std::string(38, 'a') + "..." + std::string(38, 'a') + "\xE2\x84\x83 (103 bytes)"},
    };
    for (const auto& [name, shown] : cases) {
        EXPECT_EQ(tools::EchoName(name), shown) << name;
    }
}

} // namespace
