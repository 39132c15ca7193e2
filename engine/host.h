#pragma once
// The engine's only way to reach the user. The main window implements it;
// tests use a recording fake. The engine calls it only while `Interactive` is
// on, so a non-interactive run (the batch runner, the command line) never
// shows anything.

#include <string>

namespace pimo::engine {

enum class MessageKind { Warning, Error, Information, Confirmation };
enum class MessageButtons { Ok, YesNo, YesAbort };
enum class MessageAnswer { Ok, Yes, No, Abort };

class Host {
  public:
    virtual ~Host() = default;

    /// Text of status bar panel `panel` (0 is the main status text).
    virtual void setStatusText(const std::string& text, int panel = 0) = 0;
    /// Shows the hourglass cursor (true) or restores the normal one.
    virtual void setBusyCursor(bool busy) = 0;
    /// A modal message box; returns the button the user chose.
    virtual MessageAnswer showMessage(MessageKind kind, const std::string& text,
                                      MessageButtons buttons) = 0;
    /// A balloon notice at the optimized view, hidden after `timeoutMs`.
    virtual void showBalloon(const std::string& title, const std::string& description,
                             int timeoutMs) = 0;
    virtual void hideBalloon() = 0;
    /// Lets the window handle pending events during a long operation.
    virtual void processPendingEvents() = 0;
    /// Enables or disables the main window around long library calls.
    virtual void setMainWindowEnabled(bool enabled) = 0;

    // What the window shows of the engine's state. Each has a do-nothing
    // default so that hosts without views (tests, the command line) stay small.

    /// No image: both views and size texts cleared, title "PIMO - No image loaded".
    virtual void showNoImage() {}
    /// The source's caption and size text after a load.
    virtual void showFileInformation(const std::string& caption, const std::string& sizeText,
                                     const std::string& sizeHint) {
        (void)caption, (void)sizeText, (void)sizeHint;
    }
    /// Display the (new) source bitmap, at actual size or fitted to the window.
    virtual void showSourceImage(bool actualSize) { (void)actualSize; }
    /// How much smaller than its `width` x `height` pixels a JPEG result may
    /// be decoded for display: 2, 4 or 8 when the view shows it that much
    /// reduced or more; 1 keeps every pixel.
    virtual unsigned resultDisplayReduction(unsigned width, unsigned height) {
        (void)width, (void)height;
        return 1;
    }
    /// Display the result bitmap the preview produced (none when it failed);
    /// false when a result could not be turned into a picture.
    virtual bool showResultImage() { return true; }
    /// The result's size text, its hint, whether it is smaller than the source
    /// (green) or not (maroon).
    virtual void showResultSize(const std::string& sizeText, const std::string& sizeHint,
                                bool smaller) {
        (void)sizeText, (void)sizeHint, (void)smaller;
    }
    /// The engine's state changed: a source loaded or released, a new or stale
    /// result, saved or not, a long call begun or ended. Commands that depend
    /// on that state look again.
    virtual void engineStateChanged() {}
    /// Show the resample dialog modally for a large image; it resamples and
    /// reopens the image itself when confirmed.
    virtual void resampleLargeImage() {}
};

}  // namespace pimo::engine
