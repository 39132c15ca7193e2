#include "tests/support/local_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace pimo::test {

namespace {

/// A socket bound to 127.0.0.1 on a port the system picks; its port in `port`.
int BindLoopback(int& port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(socket);
        throw std::runtime_error("bind failed");
    }
    port = ntohs(address.sin_port);
    return socket;
}

std::string ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 302:
            return "Found";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

void SendAll(int connection, const std::string& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t count =
            ::send(connection, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (count <= 0) return;
        sent += static_cast<std::size_t>(count);
    }
}

}  // namespace

LocalHttpServer::LocalHttpServer() {
    // A proxy named in the environment must not stand between client and us.
    ::setenv("no_proxy", "127.0.0.1", 1);
    ::setenv("NO_PROXY", "127.0.0.1", 1);
    m_listener = BindLoopback(m_port);
    if (::listen(m_listener, 8) != 0) {
        ::close(m_listener);
        throw std::runtime_error("listen failed");
    }
    m_thread = std::thread([this] { run(); });
}

LocalHttpServer::~LocalHttpServer() {
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
}

void LocalHttpServer::serve(const std::string& path, Response response) {
    const std::lock_guard lock(m_mutex);
    m_responses[path] = std::move(response);
}

std::string LocalHttpServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<std::string> LocalHttpServer::requests() const {
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

void LocalHttpServer::run() {
    while (!m_stop) {
        pollfd waiting{m_listener, POLLIN, 0};
        if (::poll(&waiting, 1, 20) <= 0) continue;
        const int connection = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        answer(connection);
        ::close(connection);
    }
}

void LocalHttpServer::answer(int connection) {
    // The request head only; a GET carries no body.
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd readable{connection, POLLIN, 0};
        if (::poll(&readable, 1, 2000) <= 0) return;
        const ssize_t count = ::recv(connection, buffer, sizeof(buffer), 0);
        if (count <= 0) return;
        request.append(buffer, static_cast<std::size_t>(count));
    }
    const std::size_t pathStart = request.find(' ');
    const std::size_t pathEnd = request.find(' ', pathStart + 1);
    if (pathStart == std::string::npos || pathEnd == std::string::npos) return;
    const std::string path = request.substr(pathStart + 1, pathEnd - pathStart - 1);

    Response response{404, "not found", ""};
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(path);
        if (const auto found = m_responses.find(path); found != m_responses.end())
            response = found->second;
    }
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " " +
                       ReasonPhrase(response.status) + "\r\n";
    head += "Content-Length: " + std::to_string(response.body.size()) + "\r\n";
    head += "Content-Type: application/octet-stream\r\nConnection: close\r\n";
    if (!response.location.empty()) head += "Location: " + response.location + "\r\n";
    SendAll(connection, head + "\r\n" + response.body);
}

int ClosedLocalPort() {
    int port = 0;
    ::close(BindLoopback(port));
    return port;
}

}  // namespace pimo::test
