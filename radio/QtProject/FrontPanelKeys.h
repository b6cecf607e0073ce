// The keyboard as a second way to the front panel. While the main window
// has the focus: the push-to-talk key held down presses PTT as the on-screen
// button does (its auto-repeat is ignored, and PTT lets go when the window
// loses the focus); Up and Down turn the channel knob one detent; + and -
// turn the volume knob. Keys with Ctrl, Alt or Meta stay the menu's.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QDial;
class QKeyEvent;
class QWidget;

class FrontPanelKeys : public QObject
{
    Q_OBJECT
public:
    // The local setting naming the push-to-talk key ("Space" when absent,
    // empty for none), in the key names of QKeySequence's portable text.
    static const char* const kPttKeySetting;
    static const char* const kDefaultPttKey;
    // Volume change of one + or - press, in percent.
    static constexpr int kVolumeStep = 5;
    // A held key repeats as a release and a new press. The toolkit marks
    // such pairs as repeats only when it sees the press already waiting
    // behind the release; a press this soon after a release is taken for
    // a repeat too, so PTT never flickers while the key is held.
    static constexpr int kReleaseSettleMs = 60;

    // What the keys act on.
    struct Panel
    {
        QWidget* window = nullptr;
        QDial* volumeKnob = nullptr;
        // Presses PTT; false when it could not (no microphone) or was
        // held already (by the mouse), so that the key does not own it.
        std::function<bool()> pressPtt;
        std::function<void()> releasePtt;
        std::function<void()> channelUp;
        std::function<void()> channelDown;
    };

    explicit FrontPanelKeys(Panel panel, QObject* parent = nullptr);

    // The key of a setting's text: 0 for none, the first key without its
    // modifiers for a combination.
    static int keyOfText(const QString& text);
    // The stored push-to-talk key (0: none).
    static int pttKey();

    bool pttHeld() const { return pttHeld_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool belongsToPanel(QObject* watched) const;
    bool keyPressed(const QKeyEvent& key);
    bool keyReleased(const QKeyEvent& key);
    bool turnKnobs(const QKeyEvent& key);
    void letGoOfPtt();

    Panel panel_;
    bool pttHeld_ = false;
    QTimer releaseSettle_;
};
