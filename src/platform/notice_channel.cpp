#include "platform/notice_channel.h"

#include "base/runtime_dir.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ufd {

namespace {

// A peer that keeps the connection open is cut off after this; what it
// sent by then is its notice.
constexpr int kPeerTimeoutMilliseconds = 2000;
// Notices are a few bytes. Past this the text can only be garbage, which
// counts as "other" all the same, so the rest is not kept.
constexpr qsizetype kMaxNoticeBytes = 64 * 1024;
// How often the channel checks that it still listens where Vasket sends.
constexpr int kWatchMilliseconds = 1000;

} // namespace

QString NoticeChannelName() {
    const QString fromEnvironment = qEnvironmentVariable("UFD_NOTICE_CHANNEL");
    if (!fromEnvironment.isEmpty()) {
        return fromEnvironment;
    }
    return QStringLiteral("ufd-station-%1").arg(::getuid());
}

QString NoticeSocketPath(const QString& name, QString* refusal) {
    if (name.startsWith(QLatin1Char('/'))) {
        return name;
    }
    const PrivateDirectory run = RuntimeDirectory();
    if (!run.ok()) {
        if (refusal != nullptr) {
            *refusal = QString::fromStdString(run.refusal);
        }
        return {};
    }
    return QFile::decodeName(run.path.c_str()) + QLatin1Char('/') + name;
}

NoticeServer::NoticeServer(QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)), watch_(new QTimer(this)) {
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    watch_->setInterval(kWatchMilliseconds);
    connect(watch_, &QTimer::timeout, this, &NoticeServer::Watch);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            if (open_ >= kMaxOpenConnections) {
                ++refused_;
                socket->abort();
                socket->deleteLater();
                continue;
            }
            ++open_;
            struct Pending {
                QByteArray bytes;
                bool delivered = false;
            };
            auto pending = std::make_shared<Pending>();
            auto take = [socket, pending] {
                const qsizetype room = kMaxNoticeBytes - pending->bytes.size();
                pending->bytes.append(socket->read(room > 0 ? room : 0));
                return pending->bytes.size() >= kMaxNoticeBytes;
            };
            auto deliver = [this, socket, pending, take] {
                if (pending->delivered) {
                    return;
                }
                pending->delivered = true;
                --open_;
                take();
                socket->disconnect(this);
                socket->abort();
                socket->deleteLater();
                emit NoticeReceived(pending->bytes);
            };
            connect(socket, &QLocalSocket::readyRead, this, [take, deliver] {
                if (take()) {
                    deliver();
                }
            });
            connect(socket, &QLocalSocket::disconnected, this, deliver);
            connect(socket, &QLocalSocket::errorOccurred, this,
                    [deliver](QLocalSocket::LocalSocketError error) {
                        // The peer closing is how a notice ends; other errors
                        // end it too, with what came before.
                        (void)error;
                        deliver();
                    });
            auto* timeout = new QTimer(socket);
            timeout->setSingleShot(true);
            connect(timeout, &QTimer::timeout, this, deliver);
            timeout->start(kPeerTimeoutMilliseconds);
            if (socket->state() != QLocalSocket::ConnectedState) {
                deliver();
            } else if (socket->bytesAvailable() > 0 && take()) {
                deliver();
            }
        }
    });
}

NoticeServer::~NoticeServer() {
    watch_->stop();
    server_->close();
    ReleaseLock();
}

void NoticeServer::StartWatch(const QString& path) {
    path_ = path;
    relistenFailed_ = false;
    refused_ = 0;
    watch_->start();
}

// Qt closes a server for good when accepting fails (no descriptors left),
// and a cleaner may remove the socket file: either way Vasket's notices
// would go nowhere. Listen again, and say so.
void NoticeServer::Watch() {
    if (refused_ > 0) {
        emit Warning(
            QStringLiteral("Notice channel \"%1\": %2 connection(s) refused, more than %3 "
                           "were open at once")
                .arg(path_, QString::number(refused_), QString::number(kMaxOpenConnections)));
        refused_ = 0;
    }
    struct stat info {};
    const bool there =
        ::lstat(QFile::encodeName(path_).constData(), &info) == 0 && S_ISSOCK(info.st_mode);
    if (server_->isListening() && there) {
        return;
    }
    server_->close();
    QLocalServer::removeServer(path_);
    if (server_->listen(path_)) {
        relistenFailed_ = false;
        emit Warning(QStringLiteral("Notice channel \"%1\" was %2; listening again")
                         .arg(path_, there ? QStringLiteral("closed") : QStringLiteral("removed")));
    } else if (!relistenFailed_) {
        relistenFailed_ = true;
        emit Warning(QStringLiteral("Notice channel \"%1\" was lost and cannot be listened on "
                                    "again (%2); drives that come or go are seen only after Clear")
                         .arg(path_, server_->errorString()));
    }
}

void NoticeServer::ReleaseLock() {
    if (!lockFd_) {
        return;
    }
    // Removed while still held, so no lock file is left behind; whoever
    // opened it meanwhile notices it is gone once they hold it.
    ::unlink(lockPath_.constData());
    lockFd_.reset();
}

bool NoticeServer::Listen(const QString& name) {
    watch_->stop();
    server_->close();
    const QString path = NoticeSocketPath(name, &refusal_);
    if (path.isEmpty()) {
        return false;
    }
    // Whatever socket file is there goes, a live one too.
    QLocalServer::removeServer(path);
    if (!server_->listen(path)) {
        return false;
    }
    StartWatch(path);
    return true;
}

namespace {

// Someone accepts connections on the socket. Only asked of a socket whose
// station lock was free, so it never reaches a live station: a connection
// would be a notice to it.
bool Answers(const QString& name) {
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool answered = probe.waitForConnected(500);
    probe.abort();
    return answered;
}

} // namespace

ClaimResult NoticeServer::Claim(const QString& channel) {
    watch_->stop();
    server_->close();
    ReleaseLock();
    refusal_.clear();
    const QString name = NoticeSocketPath(channel, &refusal_);
    if (name.isEmpty()) {
        return ClaimResult::Failed;
    }
    const QByteArray lockPath = QFile::encodeName(name + QStringLiteral(".lock"));
    UniqueFd fd;
    for (;;) {
        fd.reset(::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!fd) {
            return ClaimResult::Failed;
        }
        // The kernel drops the lock however the holder ends, so a crashed
        // station never blocks the next one.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            return errno == EWOULDBLOCK ? ClaimResult::Taken : ClaimResult::Failed;
        }
        // A holder that ended removed the file we opened: lock the new one.
        struct stat locked {};
        struct stat named {};
        if (::fstat(fd.get(), &locked) == 0 && ::stat(lockPath.constData(), &named) == 0 &&
            locked.st_ino == named.st_ino && locked.st_dev == named.st_dev) {
            break;
        }
    }
    // Listening with access options replaces any file at the name, so the
    // file is judged first.
    ClaimResult result = ClaimResult::Taken;
    if (!QFileInfo::exists(name) || !Answers(name)) {
        QLocalServer::removeServer(name);
        result = server_->listen(name) ? ClaimResult::Listening : ClaimResult::Failed;
    }
    if (result == ClaimResult::Listening) {
        lockFd_ = std::move(fd);
        lockPath_ = lockPath;
        StartWatch(name);
    }
    return result;
}

namespace {

std::optional<pid_t> PeerProcess(const QLocalSocket& socket) {
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0) {
        return std::nullopt;
    }
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(static_cast<int>(fd), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
        credentials.pid <= 0) {
        return std::nullopt;
    }
    return credentials.pid;
}

} // namespace

Delivery DeliverNotice(const QByteArray& text, const QString& channel, int timeoutMilliseconds) {
    Delivery result;
    const QString path = NoticeSocketPath(channel);
    if (path.isEmpty()) {
        return result;
    }
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(timeoutMilliseconds)) {
        return result;
    }
    const std::optional<pid_t> listener = PeerProcess(socket);
    if (!text.isEmpty() && socket.write(text) != text.size()) {
        return result;
    }
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMilliseconds)) {
            return result;
        }
    }
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) {
        socket.waitForDisconnected(timeoutMilliseconds);
    }
    result.delivered = true;
    result.listener = listener;
    return result;
}

} // namespace ufd
