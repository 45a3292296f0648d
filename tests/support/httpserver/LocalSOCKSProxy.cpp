#include "support/httpserver/LocalSOCKSProxy.h"

#include <pwd.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/httpserver/LocalDaemon.h"
#include "support/httpserver/LocalPorts.h"

namespace testsupport {

namespace {

// A SOCKS5 server that wants a user name and password (given as arguments after the port)
// and relays to loopback addresses only.
constexpr const char* PasswordServer = R"PY(
import socket, struct, sys, threading

port, user, password = int(sys.argv[1]), sys.argv[2].encode(), sys.argv[3].encode()

def exactly(c, n):
    data = b''
    while len(data) < n:
        more = c.recv(n - len(data))
        if not more:
            raise EOFError
        data += more
    return data

def pipe(source, sink):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            sink.sendall(data)
    except OSError:
        pass
    try:
        sink.shutdown(socket.SHUT_WR)
    except OSError:
        pass

def serve(c):
    try:
        version, count = exactly(c, 2)
        if version != 5 or 2 not in exactly(c, count):
            c.sendall(b'\x05\xff')
            return
        c.sendall(b'\x05\x02')
        _, length = exactly(c, 2)
        name = exactly(c, length)
        given = exactly(c, exactly(c, 1)[0])
        if name != user or given != password:
            c.sendall(b'\x01\x01')
            return
        c.sendall(b'\x01\x00')
        _, command, _, kind = exactly(c, 4)
        if kind == 1:
            host = socket.inet_ntoa(exactly(c, 4))
        elif kind == 4:
            host = socket.inet_ntop(socket.AF_INET6, exactly(c, 16))
        else:
            host = exactly(c, exactly(c, 1)[0]).decode()
        target_port = struct.unpack('>H', exactly(c, 2))[0]
        if command != 1 or host not in ('127.0.0.1', 'localhost', '::1'):
            c.sendall(b'\x05\x02\x00\x01' + bytes(6))
            return
        try:
            remote = socket.create_connection((host, target_port), timeout=10)
        except OSError:
            c.sendall(b'\x05\x05\x00\x01' + bytes(6))
            return
        remote.settimeout(None)
        c.sendall(b'\x05\x00\x00\x01\x7f\x00\x00\x01' + struct.pack('>H', target_port))
        back = threading.Thread(target=pipe, args=(remote, c), daemon=True)
        back.start()
        pipe(c, remote)
        back.join()
        remote.close()
    except (EOFError, OSError, ValueError):
        pass
    finally:
        c.close()

listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(('127.0.0.1', port))
listener.listen(16)
while True:
    client, _ = listener.accept()
    threading.Thread(target=serve, args=(client,), daemon=True).start()
)PY";

}  // namespace

std::unique_ptr<LocalSOCKSProxy> LocalSOCKSProxy::start(
    const std::string& program,
    const std::function<std::vector<std::string>(const std::string&, std::uint16_t)>& prepare) {
    if (program.empty()) return nullptr;
    std::unique_ptr<LocalSOCKSProxy> proxy(new LocalSOCKSProxy());
    char pattern[] = "/tmp/orvandel-socks-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return nullptr;
    proxy->folder_ = pattern;
    // Ports can be taken between the look-up and the proxy's bind: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        proxy->port_ = freeLoopbackPort();
        proxy->pid_ = spawnListeningDaemon(prepare(proxy->folder_, proxy->port_), proxy->port_);
        if (proxy->pid_ > 0) return proxy;
    }
    return nullptr;
}

std::unique_ptr<LocalSOCKSProxy> LocalSOCKSProxy::startDante() {
    const std::string program = findProgram("danted");
    return start(program, [&](const std::string& d, std::uint16_t port) {
        // The user it switches to is the one running the test: no root needed.
        const passwd* account = ::getpwuid(::getuid());
        std::string user = account != nullptr ? account->pw_name : "root";
        std::ofstream(d + "/danted.conf")
            << "logoutput: " << d << "/danted.log\n"
            << "internal: 127.0.0.1 port = " << port << "\nexternal: 127.0.0.1\n"
            << "socksmethod: none\nclientmethod: none\n"
            << "user.privileged: " << user << "\nuser.unprivileged: " << user << "\n"
            << "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
            << "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 log: connect }\n";
        return std::vector<std::string>{program, "-f", d + "/danted.conf", "-p",
                                        d + "/danted.pid", "-N", "1"};
    });
}

std::unique_ptr<LocalSOCKSProxy> LocalSOCKSProxy::startWithPassword(const std::string& username,
                                                                    const std::string& password) {
    const std::string program = findProgram("python3");
    return start(program, [&](const std::string& d, std::uint16_t port) {
        std::ofstream(d + "/socks5_password_server.py") << PasswordServer;
        return std::vector<std::string>{program, d + "/socks5_password_server.py",
                                        std::to_string(port), username, password};
    });
}

std::string LocalSOCKSProxy::log() const {
    std::ifstream file(folder_ + "/danted.log");
    return std::string(std::istreambuf_iterator<char>(file), {});
}

LocalSOCKSProxy::~LocalSOCKSProxy() {
    stopDaemon(pid_);
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
}

}  // namespace testsupport
