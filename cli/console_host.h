#pragma once
// The command line's Host: messages go to standard error, questions are
// answered Yes (the options given on the command line are the consent), and
// nothing else is shown.

#include <iostream>
#include <sstream>
#include <string>

#include "engine/host.h"

namespace pimo::cli {

class ConsoleHost : public engine::Host {
  public:
    void setStatusText(const std::string&, int) override {}
    void setBusyCursor(bool) override {}
    engine::MessageAnswer showMessage(engine::MessageKind kind, const std::string& text,
                                      engine::MessageButtons) override {
        if (kind == engine::MessageKind::Confirmation) return engine::MessageAnswer::Yes;
        // Every line named, so that each reads on its own in a log.
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            std::cerr << "pimo-cli: " << line << '\n';
        return engine::MessageAnswer::Ok;
    }
    void showBalloon(const std::string&, const std::string&, int) override {}
    void hideBalloon() override {}
    void processPendingEvents() override {}
    void setMainWindowEnabled(bool) override {}
};

}  // namespace pimo::cli
