// Version comparison and the rich text of the software-update screen.
#include "SoftwareVersionText.h"

#include <QVersionNumber>

SoftwareVersionText makeSoftwareVersionText(const SoftwareVersions& versions)
{
    SoftwareVersionText text;
    text.html = QStringLiteral("Current Version: V") + versions.running.toHtmlEscaped();
    if (!versions.registered)
        text.html += QStringLiteral(" <br> Automatic notification of available updates is available only on "
                                    "registered units.  To manually check for updates, visit") +
                     QStringLiteral(" <a href=\"%1\">%1</a>").arg(versions.devicePageUrl.toHtmlEscaped());
    if (versions.released.isEmpty())
        return text;
    const QVersionNumber running = QVersionNumber::fromString(versions.running);
    const QVersionNumber released = QVersionNumber::fromString(versions.released);
    if (released > running) {
        text.updateAvailable = true;
        text.html += QStringLiteral(" <br> <a href=\"%1\">Version V%2 is available</a>")
                         .arg(versions.updateUrl.toHtmlEscaped(), versions.released.toHtmlEscaped());
    } else if (running > released) {
        text.html += QStringLiteral(" <br> Released Version: V") + versions.released.toHtmlEscaped() +
                     QStringLiteral("<br> Unreleased/Internal Build ");
    }
    return text;
}
