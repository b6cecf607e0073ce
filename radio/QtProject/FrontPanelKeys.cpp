// Key presses turned into front-panel actions.
#include "FrontPanelKeys.h"

#include "PersistentQSettings.h"
#include "debug_log.h"

#include <QApplication>
#include <QDial>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>

const char* const FrontPanelKeys::kPttKeySetting = "ptt_key";
const char* const FrontPanelKeys::kDefaultPttKey = "Space";

namespace {

constexpr Qt::KeyboardModifiers kMenuModifiers = Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;

} // namespace

FrontPanelKeys::FrontPanelKeys(Panel panel, QObject* parent) : QObject(parent), panel_(std::move(panel))
{
    releaseSettle_.setSingleShot(true);
    releaseSettle_.setInterval(kReleaseSettleMs);
    connect(&releaseSettle_, &QTimer::timeout, this, &FrontPanelKeys::letGoOfPtt);
    // The application sees a key before the focused widget does: a focused
    // button must not take the space bar for a click of its own.
    qApp->installEventFilter(this);
}

int FrontPanelKeys::keyOfText(const QString& text)
{
    const QKeySequence sequence = QKeySequence::fromString(text, QKeySequence::PortableText);
    return sequence.isEmpty() ? 0 : static_cast<int>(sequence[0].key());
}

int FrontPanelKeys::pttKey()
{
    const QVariant stored =
        PersistentQSettings::instance()->value(QString::fromLatin1(kPttKeySetting), QString::fromLatin1(kDefaultPttKey));
    return keyOfText(stored.toString());
}

bool FrontPanelKeys::belongsToPanel(QObject* watched) const
{
    auto* widget = qobject_cast<QWidget*>(watched);
    return widget && widget->window() == panel_.window;
}

bool FrontPanelKeys::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        return belongsToPanel(watched) && keyPressed(static_cast<const QKeyEvent&>(*event));
    case QEvent::KeyRelease:
        return belongsToPanel(watched) && keyReleased(static_cast<const QKeyEvent&>(*event));
    case QEvent::WindowDeactivate:
        // The key's release goes to whatever has the focus now.
        if (watched == panel_.window)
            letGoOfPtt();
        return false;
    default:
        return false;
    }
}

bool FrontPanelKeys::keyPressed(const QKeyEvent& key)
{
    const int ptt = pttKey();
    if (ptt != 0 && key.key() == ptt) {
        if (key.isAutoRepeat())
            return true;
        if (releaseSettle_.isActive()) {
            releaseSettle_.stop();
            return true;
        }
        if (!pttHeld_) {
            debug_log_printf("DEBUG_PTT_KEY", "PTT key pressed\n");
            pttHeld_ = panel_.pressPtt();
        }
        return true;
    }
    return turnKnobs(key);
}

bool FrontPanelKeys::keyReleased(const QKeyEvent& key)
{
    const int ptt = pttKey();
    if (ptt == 0 || key.key() != ptt)
        return false;
    if (!key.isAutoRepeat() && pttHeld_)
        releaseSettle_.start();
    return true;
}

bool FrontPanelKeys::turnKnobs(const QKeyEvent& key)
{
    if (key.modifiers() & kMenuModifiers)
        return false;
    switch (key.key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        // One detent per press, as the knob clicks: holding the key does not race through the channels.
        if (!key.isAutoRepeat())
            key.key() == Qt::Key_Up ? panel_.channelUp() : panel_.channelDown();
        return true;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        panel_.volumeKnob->setValue(panel_.volumeKnob->value() + kVolumeStep);
        return true;
    case Qt::Key_Minus:
        panel_.volumeKnob->setValue(panel_.volumeKnob->value() - kVolumeStep);
        return true;
    default:
        return false;
    }
}

void FrontPanelKeys::letGoOfPtt()
{
    releaseSettle_.stop();
    if (!pttHeld_)
        return;
    debug_log_printf("DEBUG_PTT_KEY", "PTT key released\n");
    pttHeld_ = false;
    panel_.releasePtt();
}
