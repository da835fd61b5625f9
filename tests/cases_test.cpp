// End-to-end golden tests of the headless modes through the real executable.
//
// Each case is tests/cases/<mode>/<name>.cmd with lines of the form
//   $ <shell command>        setup, run with /bin/sh in the case's temporary directory
//   run: <arguments>         the program's arguments, split at blanks ("..." keeps blanks)
//   mask: <regex> -> <text>  replacement applied to the output before comparing
//   env: NAME=value          extra environment for the program
// {cases} stands for tests/cases and {tmp} for the temporary directory.
// The expected standard output, followed by a line "[exit N]", is in <name>.out.
// Run with QX_UPDATE_GOLDEN=1 to rewrite the .out files after a deliberate change.
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using namespace testutil;

namespace {

struct Case {
    std::string mode;
    std::string name;
    fs::path cmd;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.mode << "/" << c.name; }

std::vector<Case> all_cases()
{
    std::vector<Case> cases;
    fs::path root = fs::path(tests_dir()) / "cases";
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().extension() == ".cmd")
            cases.push_back({ it->path().parent_path().filename().string(), it->path().stem().string(), it->path() });
    }
    std::sort(cases.begin(), cases.end(), [](const Case& a, const Case& b) { return a.cmd < b.cmd; });
    return cases;
}

void replace_all(std::string& s, const std::string& from, const std::string& to)
{
    if (from.empty())
        return;
    for (size_t pos = 0; (pos = s.find(from, pos)) != std::string::npos; pos += to.size())
        s.replace(pos, from.size(), to);
}

std::vector<std::string> split_args(const std::string& line)
{
    std::vector<std::string> out;
    std::string cur;
    bool in_quotes = false, have = false;
    for (char c : line) {
        if (c == '"') {
            in_quotes = !in_quotes;
            have = true;
        } else if (c == ' ' && !in_quotes) {
            if (have)
                out.push_back(cur);
            cur.clear();
            have = false;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have)
        out.push_back(cur);
    return out;
}

class Golden : public testing::TestWithParam<Case> { };

TEST_P(Golden, MatchesExpectedOutput)
{
    const Case& c = GetParam();
    TempDir tmp;
    std::string cases_dir = (fs::path(tests_dir()) / "cases").string();
    std::istringstream lines(read_file(c.cmd.string()));
    std::string line;
    std::vector<std::string> args;
    // Each case gets its own configuration and work directories, so cases
    // running side by side never share build files.
    std::vector<std::string> env { "XDG_CONFIG_HOME=" + tmp.file("config"), "XDG_RUNTIME_DIR=" + tmp.path() };
    std::vector<std::pair<std::regex, std::string>> masks;
    bool have_run = false;
    while (std::getline(lines, line)) {
        replace_all(line, "{cases}", cases_dir);
        replace_all(line, "{tmp}", tmp.path());
        if (line.rfind("$ ", 0) == 0) {
            auto r = sh(line.substr(2), tmp.path());
            ASSERT_EQ(r.code, 0) << "setup failed: " << line << "\n" << r.out << r.err;
        } else if (line.rfind("run:", 0) == 0) {
            args = split_args(line.substr(4));
            have_run = true;
        } else if (line.rfind("env: ", 0) == 0) {
            env.push_back(line.substr(5));
        } else if (line.rfind("mask: ", 0) == 0) {
            auto arrow = line.find(" -> ");
            ASSERT_NE(arrow, std::string::npos) << line;
            masks.emplace_back(std::regex(line.substr(6, arrow - 6)), line.substr(arrow + 4));
        }
    }
    ASSERT_TRUE(have_run) << c.cmd << " has no run: line";

    auto r = run_exe(args, env, tmp.path());
    std::string out = r.out;
    replace_all(out, tmp.path(), "{tmp}");
    for (const auto& [re, text] : masks)
        out = std::regex_replace(out, re, text);
    out += "[exit " + std::to_string(r.code) + "]\n";

    fs::path expected_path = c.cmd;
    expected_path.replace_extension(".out");
    if (getenv("QX_UPDATE_GOLDEN")) {
        write_file(expected_path.string(), out);
        GTEST_SKIP() << "rewrote " << expected_path;
    }
    ASSERT_TRUE(file_exists(expected_path.string())) << "missing " << expected_path;
    EXPECT_EQ(read_file(expected_path.string()), out) << "stderr:\n" << r.err;
}

std::string case_name(const testing::TestParamInfo<Case>& info)
{
    std::string n = info.param.mode + "_" + info.param.name;
    for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, testing::ValuesIn(all_cases()), case_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Golden);

} // namespace
