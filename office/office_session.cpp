#include "office/office_session.h"

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
#include <cstdlib>
#include <cstring>
#include <thread>

#include "util/app_paths.h"

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
    int sockets[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) {
        return Status::Error(errno, std::strerror(errno), "Ferret.OfficeLink");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 0);
    posix_spawn_file_actions_adddup2(&actions, sockets[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // A group of its own, so LibreOffice goes with the bridge when it has to be killed; the
    // program's own ignored SIGPIPE is not passed on.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    std::vector<std::string> argv = {setup_.python, setup_.bridge, setup_.soffice};
    std::vector<char*> args;
    for (std::string& arg : argv) {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, setup_.python.c_str(), &actions, &attributes, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(sockets[1]);
    if (spawned != 0) {
        close(sockets[0]);
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
        Stop(true);
        return Status::Error(
            kErrorNotStarted,
            answer.description.empty() ? "LibreOffice could not be started" : answer.description,
            "Ferret.OfficeLink");
    }
    return Status();
}

void OfficeLink::Stop(bool kill) {
    if (pid_ < 0) {
        return;
    }
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
