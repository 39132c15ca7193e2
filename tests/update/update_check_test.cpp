// The update check: version texts, the comparison, the messages and the
// schedule, and a request against a server the test runs on 127.0.0.1.
#include "update/update_check.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/support/fake_host.h"
#include "tests/support/local_http_server.h"
#include "update/version_number.h"

namespace pimo::update {
namespace {

using engine::MessageAnswer;
using engine::MessageButtons;
using engine::MessageKind;

TEST(VersionNumberTest, ReadsAsTheScanPatternDoes) {
    struct Case {
        std::string text;
        std::optional<VersionNumber> expected;
    };
    const Case cases[] = {
        {"0.6.2.0", VersionNumber{0, 6, 2, 0}},
        {"0.6.10.0", VersionNumber{0, 6, 10, 0}},
        {"0.7", VersionNumber{0, 7, 0, 0}},
        {"2", VersionNumber{2, 0, 0, 0}},
        {"1.2.3.4\r\n", VersionNumber{1, 2, 3, 4}},
        {" 1. 2.+3", VersionNumber{1, 2, 3, 0}},   // blanks and a sign before a number
        {"1.2 .3", VersionNumber{1, 2, 0, 0}},     // the dot must follow at once
        {"1.2.3.4.5", VersionNumber{1, 2, 3, 4}},  // the rest is not read
        {"3.1-beta", VersionNumber{3, 1, 0, 0}},
        {"\xEF\xBB\xBF"
         "0.8.0.1",
         VersionNumber{0, 8, 0, 1}},  // a byte order mark
        {"0.0.0.0", std::nullopt},
        {"", std::nullopt},
        {"<html>Not found</html>", std::nullopt},
        {"-1.2.3.4", std::nullopt},
        {"1.-2", std::nullopt},
        {"99999999999.1", std::nullopt},                            // does not fit 32 bits
        {std::string(20, ' ') + "1.0", std::nullopt},               // beyond the 20 characters read
        {std::string(18, ' ') + "1.2", VersionNumber{1, 0, 0, 0}},  // cut after "1."
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseVersionNumber(c.text), c.expected) << '"' << c.text << '"';
    }
}

TEST(VersionNumberTest, NewerComparesFieldsAsNumbersInOrder) {
    const VersionNumber current{0, 6, 2, 0};
    struct Case {
        VersionNumber candidate;
        bool newer;
    };
    const Case cases[] = {
        {{0, 6, 10, 0}, true}, {{0, 7, 0, 0}, true},   {{0, 6, 2, 1}, true},  {{1, 0, 0, 0}, true},
        {{0, 6, 2, 0}, false}, {{0, 6, 1, 99}, false}, {{0, 5, 9, 9}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsNewerVersion(c.candidate, current), c.newer)
            << c.candidate.Major << '.' << c.candidate.Minor << '.' << c.candidate.Release << '.'
            << c.candidate.Build;
    }
}

TEST(UpdateCheckTest, AnswerComparedWithTheProgramsVersion) {
    using platform::FetchedText;
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"0.6.2.0", ""}),
              UpdateCheckOutcome::LatestVersion);
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"0.6.10.0", ""}),
              UpdateCheckOutcome::NewerVersion);
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"0.7", ""}), UpdateCheckOutcome::NewerVersion);
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"0.6.1.0", ""}),
              UpdateCheckOutcome::LatestVersion);
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"0.0.0.0", ""}), UpdateCheckOutcome::Failed);
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"", ""}), UpdateCheckOutcome::Failed);
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"soon", ""}), UpdateCheckOutcome::Failed);
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"", "Could not connect"}),
              UpdateCheckOutcome::Failed);
    EXPECT_EQ(CompareWithLatestVersion(FetchedText{"0.7", ""}, "garbage"),
              UpdateCheckOutcome::Failed);
}

TEST(UpdateCheckTest, MessagesByOutcomeAndWhoStartedTheCheck) {
    struct Expected {
        MessageKind kind;
        std::string_view text;
        MessageButtons buttons;
    };
    struct Case {
        UpdateCheckOutcome outcome;
        bool manual;
        MessageAnswer answer;
        std::optional<Expected> message;
        bool opensPage;
    };
    const Expected offer{MessageKind::Information, kNewerVersionQuestion, MessageButtons::YesNo};
    const Case cases[] = {
        {UpdateCheckOutcome::NewerVersion, false, MessageAnswer::Yes, offer, true},
        {UpdateCheckOutcome::NewerVersion, true, MessageAnswer::Yes, offer, true},
        {UpdateCheckOutcome::NewerVersion, true, MessageAnswer::No, offer, false},
        {UpdateCheckOutcome::LatestVersion, true, MessageAnswer::Ok,
         Expected{MessageKind::Information, kLatestVersionInUse, MessageButtons::Ok}, false},
        {UpdateCheckOutcome::LatestVersion, false, MessageAnswer::Ok, std::nullopt, false},
        {UpdateCheckOutcome::Failed, true, MessageAnswer::Ok,
         Expected{MessageKind::Error, kUpdateCheckFailed, MessageButtons::Ok}, false},
        {UpdateCheckOutcome::Failed, false, MessageAnswer::Ok, std::nullopt, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "outcome " << static_cast<int>(c.outcome)
                                        << (c.manual ? ", manual" : ", automatic"));
        test::FakeHost host;
        host.answers.push_back(c.answer);
        std::vector<std::string> opened;
        Check4Updates check;
        check.ManualCheck = c.manual;
        check.report(host, c.outcome, [&](const std::string& url) { opened.push_back(url); });

        if (c.message) {
            ASSERT_EQ(host.messages.size(), 1u);
            EXPECT_EQ(host.messages[0].kind, c.message->kind);
            EXPECT_EQ(host.messages[0].text, c.message->text);
            EXPECT_EQ(host.messages[0].buttons, c.message->buttons);
        } else {
            EXPECT_EQ(host.callCount(), 0);
        }
        EXPECT_EQ(opened, c.opensPage ? std::vector<std::string>{DownloadPageUrl()}
                                      : std::vector<std::string>{});
    }
}

TEST(UpdateCheckTest, AutomaticCheckEveryFourteenWholeDays) {
    const double last = 46000.0;  // a date as the settings store keeps it
    struct Case {
        bool allowed;
        double now;
        bool due;
    };
    const Case cases[] = {
        {true, last + 13.99, false},
        {true, last + 14.0, true},
        {true, last + 30.5, true},
        {true, last, false},
        {false, last + 100, false},
        {true, last - 20, true},        // the last check is dated after now
        {true, last + 13.9999, false},  // seconds short of 14 days
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AutomaticUpdateCheckDue(c.allowed, last, c.now), c.due)
            << (c.allowed ? "allowed, " : "not allowed, ") << c.now - last << " days";
    }
    EXPECT_TRUE(AutomaticUpdateCheckDue(true, 0.0, last));  // never checked before
}

// The whole request against a server on this machine, through the
// platform's own client.
TEST(UpdateCheckTest, RequestThroughThePlatformClient) {
    test::LocalHttpServer server;
    const TextFetcher local = [&](const std::string& url) {
        EXPECT_EQ(url, LatestVersionUrl());
        return PlatformTextFetcher()(server.url(std::string(kLatestVersionPath)));
    };
    const Check4Updates check;

    server.serve(std::string(kLatestVersionPath), {200, "0.6.10.0", ""});
    EXPECT_EQ(check.fetchAndCompare(local), UpdateCheckOutcome::NewerVersion);
    server.serve(std::string(kLatestVersionPath), {200, std::string(CurrentVersion), ""});
    EXPECT_EQ(check.fetchAndCompare(local), UpdateCheckOutcome::LatestVersion);
    server.serve(std::string(kLatestVersionPath), {503, "0.9.0.0", ""});
    EXPECT_EQ(check.fetchAndCompare(local), UpdateCheckOutcome::Failed);
    EXPECT_EQ(server.requests().size(), 3u);
}

}  // namespace
}  // namespace pimo::update
