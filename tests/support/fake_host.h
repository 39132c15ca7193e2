#pragma once
// A Host that records every call and answers questions from a script.

#include <deque>
#include <string>
#include <vector>

#include "engine/host.h"

namespace pimo::test {

class FakeHost : public engine::Host {
  public:
    struct Message {
        engine::MessageKind kind;
        std::string text;
        engine::MessageButtons buttons;
    };
    struct Balloon {
        std::string title, description;
        int timeoutMs;
    };

    /// Answers given to questions, in order; when empty, `defaultAnswer`.
    std::deque<engine::MessageAnswer> answers;
    engine::MessageAnswer defaultAnswer = engine::MessageAnswer::Yes;

    std::vector<Message> messages;
    std::vector<Balloon> balloons;
    std::vector<std::string> statusTexts;  // panel 0 only
    std::vector<std::string> statusByPanel[4];
    std::vector<std::string> captions;
    int busyCursorOn = 0, busyCursorOff = 0;
    int windowDisabled = 0, windowEnabled = 0;
    int noImageShown = 0, sourceShown = 0, resultShown = 0, resampleRequests = 0;
    int pendingEvents = 0, balloonsHidden = 0;
    std::string resultSizeText, resultSizeHint;
    bool resultSmaller = false;

    /// Total number of calls of any kind: 0 means nothing reached the host.
    int callCount() const { return m_calls; }

    void setStatusText(const std::string& text, int panel) override;
    void setBusyCursor(bool busy) override;
    engine::MessageAnswer showMessage(engine::MessageKind kind, const std::string& text,
                                      engine::MessageButtons buttons) override;
    void showBalloon(const std::string& title, const std::string& description,
                     int timeoutMs) override;
    void hideBalloon() override;
    void processPendingEvents() override;
    void setMainWindowEnabled(bool enabled) override;
    void showNoImage() override;
    void showFileInformation(const std::string& caption, const std::string& sizeText,
                             const std::string& sizeHint) override;
    void showSourceImage(bool actualSize) override;
    bool showResultImage() override;
    void showResultSize(const std::string& sizeText, const std::string& sizeHint,
                        bool smaller) override;
    void resampleLargeImage() override;

  private:
    int m_calls = 0;
};

}  // namespace pimo::test
