// The console client as a user runs it: from the build tree, on the test's
// fresh home, through the real server, controller, engine and data.
#ifdef TAVIRO_TYPE_PATH
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace taviro::test {
namespace {

struct ProgramRun {
    int status = -1;
    std::string out;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

ProgramRun run(const std::vector<std::string>& args, const std::string& input = {}) {
    std::string command = "printf '%s' " + quoted(input) + " | " + quoted(TAVIRO_TYPE_PATH);
    for (const auto& a : args) command += " " + quoted(a);
    command += " 2>/dev/null";
    ProgramRun r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.out.append(buf, n);
    const int status = pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

TEST(Console, PrintsTheCommittedText) {
    struct Case {
        std::vector<std::string> args;
        std::string input;
        int status;
        std::string out;
    };
    const std::vector<Case> cases = {
        {{"nihao "}, "", 0, "你好\n"},
        {{}, "nihao \n;h\nabc{Return}\n", 0, "你好\n《》\nabc\n"},
        {{"{Nope}"}, "", 1, ""},
        {{"--bogus"}, "", 2, ""},
    };
    for (const auto& c : cases) {
        const ProgramRun r = run(c.args, c.input);
        EXPECT_EQ(r.status, c.status) << c.input;
        EXPECT_EQ(r.out, c.out) << c.input;
    }
}

TEST(Console, TraceShowsTheMarkedTextAndThePageAfterEachKey) {
    const ProgramRun r = run({"--trace", "zhongguoren "});
    ASSERT_EQ(r.status, 0);
    const auto out = lines(r.out);
    ASSERT_EQ(out.size(), 13u);  // eleven letters, the space, the committed text
    EXPECT_EQ(out[0].rfind("z\tz\t", 0), 0u) << out[0];
    EXPECT_EQ(out[10].rfind("n\tzhongguoren\t[1.", 0), 0u) << out[10];
    EXPECT_NE(out[10].find("中国人"), std::string::npos) << out[10];
    EXPECT_EQ(out[11], "{Space}\t\t");
    EXPECT_EQ(out[12], "中国人");
}

TEST(Console, HelpListsTheEscapes) {
    const ProgramRun r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    for (const char* escape : {"{Left}", "{PageDown}", "{Shift}", "{Ctrl}", "{C-x}", "{BS}", "{Esc}"})
        EXPECT_NE(r.out.find(escape), std::string::npos) << escape;
}

} // namespace
} // namespace taviro::test
#endif
