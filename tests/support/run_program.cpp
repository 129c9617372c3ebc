#include "support/run_program.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace pinbook::test {
namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace

std::string temp_dir() {
    static const std::string dir = [] {
        std::string templ = "/tmp/pinbook-test-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        return templ;
    }();
    return dir;
}

std::string write_temp_file(const std::string& name, const std::string& bytes) {
    std::string path = temp_dir() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::string write_temp_file(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    return write_temp_file(name, std::string(bytes.begin(), bytes.end()));
}

RunOptions with_argv0(std::string name) {
    RunOptions options;
    options.argv0 = std::move(name);
    return options;
}

void expect_success(const RunResult& r, const std::string& text) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, text);
}

void expect_error(const RunResult& r, const std::string& report) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, report);
}

RunResult run_program(const std::string& exe, const std::vector<std::string>& args,
                      const RunOptions& options) {
    static int counter = 0;
    const std::string base = temp_dir() + "/run" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    const std::string out_path = options.stdout_path.value_or(base + ".out");
    const std::string err_path = base + ".err";

    std::vector<std::string> storage;
    if (!options.no_argv0) storage.push_back(options.argv0.value_or(exe));
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start " + exe);

    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) {
    }
    RunResult result;
    if (WIFEXITED(wstatus)) result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) result.signal = WTERMSIG(wstatus);
    if (!options.stdout_path) {
        result.out = slurp(out_path);
        std::remove(out_path.c_str());
    }
    result.err = slurp(err_path);
    std::remove(err_path.c_str());
    return result;
}

}  // namespace pinbook::test
