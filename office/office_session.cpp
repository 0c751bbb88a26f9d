#include "office/office_session.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>
#include <thread>

#include "util/app_paths.h"
#include "util/file_handle.h"

extern char** environ;

namespace ferret {
namespace {

constexpr int kErrorNotStarted = 429;  // the office program could not be started
constexpr int kErrorNoAnswer = 1004;   // it stopped answering or went away

bool IsExecutable(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

std::string FindProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string rest = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(':', start);
        if (end == std::string::npos) {
            end = rest.size();
        }
        const std::string folder = rest.substr(start, end - start);
        if (!folder.empty() && IsExecutable(folder + "/" + name)) {
            return folder + "/" + name;
        }
        start = end + 1;
    }
    return {};
}

// Runs `argv` with no input or output and waits for it; its exit status, -1 when it could not
// run.
int RunQuietly(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& arg : argv) {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const int fd : {0, 1, 2}) {
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY,
                                         0);
    }
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QByteArray RequestLine(const OfficeRequest& request) {
    QJsonObject object;
    object[QStringLiteral("op")] = request.kind == OfficeRequest::Kind::kDocument
                                       ? QStringLiteral("word")
                                       : QStringLiteral("sheet");
    object[QStringLiteral("path")] = QString::fromStdString(request.path);
    object[QStringLiteral("find")] = QString::fromStdString(request.find);
    object[QStringLiteral("replace")] = QString::fromStdString(request.replace);
    object[QStringLiteral("match_case")] = request.match_case;
    object[QStringLiteral("whole_word")] = request.whole_word;
    object[QStringLiteral("rewrite")] = request.rewrite;
    object[QStringLiteral("save_to")] = QString::fromStdString(request.save_to);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

OfficeAnswer ParseAnswer(const std::string& line) {
    OfficeAnswer answer;
    QJsonParseError parse_error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(line), &parse_error);
    if (parse_error.error != QJsonParseError::NoError || !document.isObject()) {
        answer.error = kErrorNoAnswer;
        answer.description = "the office bridge gave an answer that cannot be read";
        return answer;
    }
    const QJsonObject object = document.object();
    answer.count = object.value(QStringLiteral("count")).toInt(-1);
    answer.saved = object.value(QStringLiteral("saved")).toBool(false);
    answer.error = object.value(QStringLiteral("error")).toInt(0);
    answer.description = object.value(QStringLiteral("description")).toString().toStdString();
    for (const QJsonValue cell : object.value(QStringLiteral("cells")).toArray()) {
        const QJsonArray pair = cell.toArray();
        answer.cells.emplace_back(pair.at(0).toString().toStdString(),
                                  pair.at(1).toString().toStdString());
        answer.cell_texts.push_back(pair.at(2).toString().toStdString());
    }
    for (const QJsonValue paragraph : object.value(QStringLiteral("paragraphs")).toArray()) {
        const QJsonArray pair = paragraph.toArray();
        answer.paragraphs.emplace_back(pair.at(0).toString().toStdString(), pair.at(1).toInt(1));
    }
    return answer;
}

// The names in the open folder `folder`, without "." and "..".
std::vector<std::string> NamesIn(int folder) {
    std::vector<std::string> names;
    DIR* listing = fdopendir(fcntl(folder, F_DUPFD_CLOEXEC, 0));
    if (listing == nullptr) {
        return names;
    }
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(listing);
    return names;
}

// Removes the folder `name` in `at` with everything in it, never following a link (a link is
// removed as a link). A folder of ours the office made read-only is emptied all the same.
void RemoveFolderAt(int at, const char* name, int depth = 0) {
    const Fd folder(openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (folder.get() >= 0 && depth < 64 && fstat(folder.get(), &info) == 0 &&
        info.st_uid == geteuid()) {
        fchmod(folder.get(), 0700);
        for (const std::string& entry : NamesIn(folder.get())) {
            if (unlinkat(folder.get(), entry.c_str(), 0) != 0 &&
                (errno == EISDIR || errno == EPERM)) {
                RemoveFolderAt(folder.get(), entry.c_str(), depth + 1);
            }
        }
    }
    unlinkat(at, name, AT_REMOVEDIR);
}

std::string ReadProcFile(const std::string& path) {
    const Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    std::string text;
    if (file.get() < 0 || !ReadAll(file.get(), text)) {
        return {};
    }
    return text;
}

// The processes of the process group `group` that have not ended (zombies have).
std::vector<std::string> LiveMembers(pid_t group) {
    std::vector<std::string> members;
    const Fd proc(open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() < 0) {
        return members;
    }
    for (const std::string& name : NamesIn(proc.get())) {
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        // "pid (command) state ppid pgrp ...": the command may hold anything but ends at the
        // last ")".
        const std::string stat = ReadProcFile("/proc/" + name + "/stat");
        const std::size_t close = stat.rfind(')');
        char state = 0;
        long parent = 0;
        long member_of = 0;
        if (close != std::string::npos &&
            std::sscanf(stat.c_str() + close + 1, " %c %ld %ld", &state, &parent, &member_of) ==
                3 &&
            member_of == group && state != 'Z' && state != 'X') {
            members.push_back(name);
        }
    }
    return members;
}

// Starts `argv` with `stdio` as its standard input and output, in a process group of its own
// (so LibreOffice goes with the bridge when it has to be killed) and with `tmpdir` as its
// TMPDIR; returns 0 or the error number.
int SpawnInGroup(std::vector<std::string> argv, int stdio, const std::string& tmpdir, pid_t& pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, stdio, 0);
    posix_spawn_file_actions_adddup2(&actions, stdio, 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The program's own ignored SIGPIPE is not passed on.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    // Our environment, but for TMPDIR.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "TMPDIR=", 7) != 0) {
            environment.emplace_back(*entry);
        }
    }
    environment.push_back("TMPDIR=" + tmpdir);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const int spawned =
        posix_spawn(&pid, argv[0].c_str(), &actions, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return spawned;
}

OfficeAnswer Failure(int number, std::string description) {
    OfficeAnswer answer;
    answer.error = number;
    answer.description = std::move(description);
    return answer;
}

}  // namespace

std::optional<OfficeSetup> FindOfficeSetup() {
    OfficeSetup setup;
    // The system's Python: the one the distribution's LibreOffice module is built for.
    setup.python = IsExecutable("/usr/bin/python3") ? "/usr/bin/python3" : FindProgram("python3");
    if (const char* bridge = std::getenv("FERRET_OFFICE_BRIDGE"); bridge != nullptr && *bridge) {
        setup.bridge = bridge;
    } else if (const std::string folder = ShippedFolder("office"); !folder.empty()) {
        setup.bridge = folder + "/ferret_office_bridge.py";
    }
    setup.soffice = FindProgram("soffice");
    if (setup.soffice.empty()) {
        setup.soffice = FindProgram("libreoffice");
    }
    if (const char* seconds = std::getenv("FERRET_OFFICE_TIMEOUT"); seconds != nullptr) {
        const int value = std::atoi(seconds);
        if (value > 0) {
            setup.file_timeout = std::chrono::seconds(value);
        }
    }
    struct stat info {};
    if (setup.python.empty() || setup.soffice.empty() || setup.bridge.empty() ||
        stat(setup.bridge.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return std::nullopt;
    }
    if (RunQuietly({setup.python, "-c", "import uno"}) != 0) {
        return std::nullopt;
    }
    return setup;
}

OfficeLink::OfficeLink(OfficeSetup setup) : setup_(std::move(setup)) {}

OfficeLink::~OfficeLink() {
    std::lock_guard lock(mutex_);
    Stop(false);
}

int OfficeLink::Starts() const {
    std::lock_guard lock(mutex_);
    return starts_;
}

Status OfficeLink::Start() {
    // The office's own folder: its profile, and its TMPDIR.
    const char* base = std::getenv("TMPDIR");
    std::string folder =
        std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/ferret-office-XXXXXX";
    const bool made = mkdtemp(folder.data()) != nullptr;
    if (made) {
        folder_ = folder;
    }
    if (!made || mkdir((folder_ + "/tmp").c_str(), 0700) != 0) {
        const int error = errno;
        RemoveOwnFiles();
        return Status::Error(
            error,
            std::string("cannot make a private folder for LibreOffice: ") + std::strerror(error),
            "Ferret.OfficeLink");
    }
    int sockets[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        const int error = errno;
        RemoveOwnFiles();
        return Status::Error(error, std::strerror(error), "Ferret.OfficeLink");
    }
    pid_t pid = -1;
    const int spawned =
        SpawnInGroup({setup_.python, setup_.bridge, setup_.soffice, folder_ + "/profile"},
                     sockets[1], folder_ + "/tmp", pid);
    close(sockets[1]);
    if (spawned != 0) {
        close(sockets[0]);
        RemoveOwnFiles();
        return Status::Error(spawned, std::strerror(spawned), "Ferret.OfficeLink");
    }
    pid_ = pid;
    socket_ = sockets[0];
    pending_.clear();
    ++starts_;
    std::string ready;
    if (!ReadLine(std::chrono::steady_clock::now() + setup_.start_timeout, ready) ||
        ready.find("\"ready\"") == std::string::npos) {
        const OfficeAnswer answer = ready.empty() ? OfficeAnswer() : ParseAnswer(ready);
        Stop(true);  // and its leftovers go
        return Status::Error(
            kErrorNotStarted,
            answer.description.empty() ? "LibreOffice could not be started" : answer.description,
            "Ferret.OfficeLink");
    }
    NotePipes();  // noted now too, should LibreOffice crash before it is stopped
    return Status();
}

void OfficeLink::NotePipes() {
    // The sockets the group's processes hold...
    std::set<std::string> inodes;
    for (const std::string& member : LiveMembers(pid_)) {
        const std::string fds = "/proc/" + member + "/fd";
        const Fd folder(open(fds.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() < 0) {
            continue;
        }
        for (const std::string& fd : NamesIn(folder.get())) {
            char target[64] = {};
            const ssize_t length = readlinkat(folder.get(), fd.c_str(), target, sizeof target - 1);
            const std::string_view link(target, length > 0 ? static_cast<std::size_t>(length) : 0);
            if (link.size() > 9 && link.substr(0, 8) == "socket:[" && link.back() == ']') {
                inodes.insert(std::string(link.substr(8, link.size() - 9)));
            }
        }
    }
    // ...and the names they are bound to: "Num RefCount Protocol Flags Type St Inode Path".
    const std::string table = ReadProcFile("/proc/net/unix");
    std::size_t start = table.find('\n');
    while (start != std::string::npos && start + 1 < table.size()) {
        const std::size_t end = table.find('\n', start + 1);
        const std::string line =
            table.substr(start + 1, end == std::string::npos ? end : end - start - 1);
        start = end;
        char inode[32] = {};
        int path_at = 0;
        if (std::sscanf(line.c_str(), "%*s %*s %*s %*s %*s %*s %31s %n", inode, &path_at) != 1 ||
            path_at <= 0 || inodes.count(inode) == 0) {
            continue;
        }
        const std::string path = line.substr(static_cast<std::size_t>(path_at));
        // Only LibreOffice's own pipes, named by it.
        const std::size_t slash = path.rfind('/');
        if (!path.empty() && path[0] == '/' && path.compare(slash + 1, 9, "OSL_PIPE_") == 0 &&
            std::find(pipes_.begin(), pipes_.end(), path) == pipes_.end()) {
            pipes_.push_back(path);
        }
    }
}

void OfficeLink::RemoveOwnFiles() {
    if (pid_ >= 0) {
        // A process killed while it made a file may still make it: the files go once every
        // process is gone (zombies are).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!LiveMembers(pid_).empty() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    for (const std::string& pipe : pipes_) {
        struct stat info {};
        if (lstat(pipe.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == geteuid()) {
            unlink(pipe.c_str());
        }
    }
    pipes_.clear();
    if (!folder_.empty()) {
        RemoveFolderAt(AT_FDCWD, folder_.c_str());
        folder_.clear();
    }
}

void OfficeLink::Stop(bool kill) {
    if (pid_ < 0) {
        return;
    }
    NotePipes();
    if (socket_ >= 0) {
        // The end of its input tells the bridge to close LibreOffice and leave.
        shutdown(socket_, SHUT_WR);
    }
    int status = 0;
    bool gone = false;
    if (!kill) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < deadline) {
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_ || (done < 0 && errno != EINTR)) {
                gone = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    // Whatever is left of the group (a hung LibreOffice, or one the bridge could not end).
    ::kill(-pid_, SIGKILL);
    if (!gone) {
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (socket_ >= 0) {
        close(socket_);
    }
    RemoveOwnFiles();
    pid_ = -1;
    socket_ = -1;
    pending_.clear();
}

Status OfficeLink::Send(const std::string& line) {
    std::size_t sent = 0;
    while (sent < line.size()) {
        const ssize_t wrote = send(socket_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return Status::Error(errno, std::strerror(errno), "Ferret.OfficeLink");
        }
        sent += static_cast<std::size_t>(wrote);
    }
    return Status();
}

bool OfficeLink::ReadLine(std::chrono::steady_clock::time_point deadline, std::string& line) {
    while (true) {
        if (const std::size_t end = pending_.find('\n'); end != std::string::npos) {
            line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd wait{socket_, POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready <= 0) {
            continue;
        }
        char buffer[65536];
        const ssize_t got = recv(socket_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

OfficeAnswer OfficeLink::Ask(const OfficeRequest& request) {
    std::lock_guard lock(mutex_);
    if (broken_) {
        return Failure(start_error_.number(), start_error_.description());
    }
    if (pid_ < 0) {
        if (Status started = Start(); !started.ok()) {
            // LibreOffice that cannot start now will not start for the next file either.
            broken_ = true;
            start_error_ = started;
            return Failure(started.number(), started.description());
        }
    }
    if (!Send(RequestLine(request).toStdString()).ok()) {
        Stop(true);
        return Failure(kErrorNoAnswer, "LibreOffice went away before " + request.path);
    }
    std::string line;
    if (!ReadLine(std::chrono::steady_clock::now() + setup_.file_timeout, line)) {
        // Hung or gone: that file fails, the next one gets a new LibreOffice.
        Stop(true);
        return Failure(kErrorNoAnswer,
                       "LibreOffice did not answer for " + request.path + " within " +
                           std::to_string(setup_.file_timeout.count()) + " seconds");
    }
    return ParseAnswer(line);
}

}  // namespace ferret
