// Downloads into a file, against a server the test runs on 127.0.0.1.

#include "platform/http_download.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stop_token>
#include <thread>

#include "platform/curl_library.h"
#include "tests/support/local_http_server.h"
#include "tests/support/test_images.h"

namespace pimo::platform {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> FolderContent(const fs::path& folder) {
    std::vector<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    return names;
}

test::Bytes AsBytes(const std::string& text) {
    return {text.begin(), text.end()};
}

class HttpDownloadTest : public testing::Test {
  protected:
    test::LocalHttpServer server;
    test::TempDir dir;
    // Binary content: a NUL, line ends, bytes above 127.
    const std::string body =
        std::string("#!/bin/sh\r\n\0\xff\x80 tool", 17) + std::string(5000, 'x');
};

TEST_F(HttpDownloadTest, BodyArrivesInTheFileAndNothingElseStays) {
    server.serve("/tool.exe", {200, body, ""});
    const fs::path target = dir.path() / "tool.exe";
    EXPECT_EQ(DownloadToFile(server.url("/tool.exe"), target), "");
    EXPECT_EQ(test::ReadFileBytes(target), AsBytes(body));
    EXPECT_EQ(FolderContent(dir.path()), std::vector<fs::path>{"tool.exe"});
    EXPECT_EQ(server.requests(), std::vector<std::string>{"/tool.exe"});
}

TEST_F(HttpDownloadTest, SuccessReplacesAnExistingFile) {
    const fs::path target = dir.path() / "tool.exe";
    test::WriteFileBytes(target, AsBytes("old"));
    server.serve("/tool.exe", {200, body, ""});
    EXPECT_EQ(DownloadToFile(server.url("/tool.exe"), target), "");
    EXPECT_EQ(test::ReadFileBytes(target), AsBytes(body));
}

TEST_F(HttpDownloadTest, RedirectIsFollowed) {
    server.serve("/old", {302, "", server.url("/new")});
    server.serve("/new", {200, body, ""});
    const fs::path target = dir.path() / "tool";
    EXPECT_EQ(DownloadToFile(server.url("/old"), target), "");
    EXPECT_EQ(test::ReadFileBytes(target), AsBytes(body));
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/old", "/new"}));
}

TEST_F(HttpDownloadTest, FailuresLeaveNoFileAndKeepAnExistingOne) {
    server.serve("/error", {500, "server trouble", ""});
    const std::vector<std::string> failing{
        server.url("/missing.exe"),  // answered 404 with a body
        server.url("/error"),
        "http://127.0.0.1:" + std::to_string(test::ClosedLocalPort()) + "/tool.exe",
        "file:///etc/hostname",  // not a web address
        "",
    };
    for (const std::string& url : failing) {
        SCOPED_TRACE(url);
        const fs::path fresh = dir.path() / "fresh.exe";
        EXPECT_NE(DownloadToFile(url, fresh), "");
        EXPECT_FALSE(fs::exists(fresh));

        const fs::path existing = dir.path() / "existing.exe";
        test::WriteFileBytes(existing, AsBytes("kept"));
        EXPECT_NE(DownloadToFile(url, existing), "");
        EXPECT_EQ(test::ReadFileBytes(existing), AsBytes("kept"));
        EXPECT_EQ(FolderContent(dir.path()), std::vector<fs::path>{"existing.exe"});
    }
}

TEST_F(HttpDownloadTest, MissingFolderIsNotCreated) {
    server.serve("/tool.exe", {200, body, ""});
    const fs::path folder = dir.path() / "plugins";
    EXPECT_NE(DownloadToFile(server.url("/tool.exe"), folder / "tool.exe"), "");
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(HttpDownloadTest, FetchTextGivesTheBodyOrTheReason) {
    server.serve("/version", {200, "0.7.1.0\r\n", ""});
    server.serve("/moved", {302, "", server.url("/version")});
    server.serve("/long", {200, std::string(2000, '9'), ""});
    server.serve("/broken", {500, "0.9.0.0", ""});

    EXPECT_EQ(FetchText(server.url("/version"), 100, std::chrono::seconds(10)).body, "0.7.1.0\r\n");
    const FetchedText moved = FetchText(server.url("/moved"), 100, std::chrono::seconds(10));
    EXPECT_EQ(moved.error, "");
    EXPECT_EQ(moved.body, "0.7.1.0\r\n");

    for (const std::string& url :
         {server.url("/long"), server.url("/broken"), server.url("/missing"),
          "http://127.0.0.1:" + std::to_string(test::ClosedLocalPort()) + "/version",
          std::string("file:///etc/hostname")}) {
        SCOPED_TRACE(url);
        const FetchedText fetched = FetchText(url, 100, std::chrono::seconds(10));
        EXPECT_NE(fetched.error, "");
        EXPECT_EQ(fetched.body, "");  // never a part of an answer
    }
}

// A server that takes the connection and never answers: only the stop ends
// the request before its time-out.
TEST(FetchTextStopTest, AStopEndsAWaitingRequest) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/v";

    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    const FetchedText fetched = FetchText(url, 100, std::chrono::seconds(60), stop.get_token());
    const auto waited = std::chrono::steady_clock::now() - start;
    stopper.join();
    ::close(listener);

    EXPECT_NE(fetched.error, "");
    EXPECT_LT(waited, std::chrono::seconds(10));
}

// The curl library is opened when a download starts; one that is missing or
// lacks an entry point gives a reason that names it.
TEST(CurlLibraryTest, OpensTheRuntimeLibraryOrSaysWhyNot) {
    const struct {
        const char* name;
        bool opens;
        const char* reason;  // part of the error, when it does not open
    } cases[] = {
        {kCurlLibraryName, true, nullptr},
        {"libpimo-absent-curl.so.4", false, "libpimo-absent-curl.so.4), which could not be loaded"},
        {"libz.so.1", false, "libz.so.1), but the one installed lacks"},
    };
    for (const auto& c : cases) {
        CurlLibrary library;
        std::string error;
        EXPECT_EQ(OpenCurlLibrary(c.name, library, error), c.opens) << c.name;
        if (c.opens) {
            EXPECT_EQ(error, "");
        } else {
            EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
        }
        EXPECT_EQ(library.easyPerform != nullptr, c.opens) << c.name;
    }
}

}  // namespace
}  // namespace pimo::platform
