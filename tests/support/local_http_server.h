#pragma once
// A tiny HTTP server for tests: it listens on 127.0.0.1 on a free port, in a
// thread of its own, answers GET requests from a table of canned responses
// (404 for anything else) and closes every connection after one answer.

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pimo::test {

class LocalHttpServer {
  public:
    struct Response {
        int status = 200;
        std::string body;
        /// Sent as the Location header when not empty (redirects).
        std::string location;
    };

    /// Starts listening; the server runs until the object goes.
    LocalHttpServer();
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    /// Answers requests for `path` (starting with "/") with `response`.
    void serve(const std::string& path, Response response);
    /// "http://127.0.0.1:<port>" followed by `path`.
    std::string url(const std::string& path) const;
    /// The paths requested so far, in order.
    std::vector<std::string> requests() const;

  private:
    void run();
    void answer(int connection);

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    std::map<std::string, Response> m_responses;
    std::vector<std::string> m_requests;
    std::thread m_thread;
};

/// A port on 127.0.0.1 on which nothing listens (bound once, then released).
int ClosedLocalPort();

}  // namespace pimo::test
