#include "support/PlainToolTip.h"

#include <QTextDocument>

QString plainToolTip(const QString &text)
{
    // Text that does not look like markup is left as it is, so that it reads the same wherever
    // the tooltip is read back, by a screen reader for one.
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal) : text;
}
