#include "tests/support/fake_host.h"

namespace pimo::test {

using namespace engine;

void FakeHost::setStatusText(const std::string& text, int panel) {
    ++m_calls;
    if (panel == 0) statusTexts.push_back(text);
    if (panel >= 0 && panel < 4) statusByPanel[panel].push_back(text);
}

void FakeHost::setBusyCursor(bool busy) {
    ++m_calls;
    ++(busy ? busyCursorOn : busyCursorOff);
}

MessageAnswer FakeHost::showMessage(MessageKind kind, const std::string& text,
                                    MessageButtons buttons) {
    ++m_calls;
    messages.push_back({kind, text, buttons});
    if (buttons == MessageButtons::Ok) return MessageAnswer::Ok;
    if (answers.empty()) return defaultAnswer;
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
}

void FakeHost::showBalloon(const std::string& title, const std::string& description,
                           int timeoutMs) {
    ++m_calls;
    balloons.push_back({title, description, timeoutMs});
}

void FakeHost::hideBalloon() {
    ++m_calls;
    ++balloonsHidden;
}

void FakeHost::processPendingEvents() {
    ++m_calls;
    ++pendingEvents;
}

void FakeHost::setMainWindowEnabled(bool enabled) {
    ++m_calls;
    ++(enabled ? windowEnabled : windowDisabled);
}

void FakeHost::showNoImage() {
    ++m_calls;
    ++noImageShown;
}

void FakeHost::showFileInformation(const std::string& caption, const std::string&,
                                   const std::string&) {
    ++m_calls;
    captions.push_back(caption);
}

void FakeHost::showSourceImage(bool) {
    ++m_calls;
    ++sourceShown;
}

bool FakeHost::showResultImage() {
    ++m_calls;
    ++resultShown;
    return true;
}

void FakeHost::showResultSize(const std::string& sizeText, const std::string& sizeHint,
                              bool smaller) {
    ++m_calls;
    resultSizeText = sizeText;
    resultSizeHint = sizeHint;
    resultSmaller = smaller;
}

void FakeHost::resampleLargeImage() {
    ++m_calls;
    ++resampleRequests;
}

}  // namespace pimo::test
