// The one font of both windows' texts, chosen so that every caption fits its fixed-pixel box.
#include "interface_font.h"

QFont interface_font()
{
    // Named rather than taken from the desktop, whose default font may be wider.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    // In pixels like the forms, so a desktop's dpi setting cannot push the text out of its
    // boxes; a scale factor enlarges text and boxes alike.
    font.setPixelSize(10);
    // DejaVu Sans Condensed, a face of its own. A narrower stretch than a face has is faked
    // by squeezing, and then Qt measures some titles narrower than it draws them.
    font.setStretch(QFont::SemiCondensed);
    // The tightest box: "Protocol version:" beside "2.1, Version mistmatch" in 181 pixels.
    font.setLetterSpacing(QFont::PercentageSpacing, 97);
    // Light hinting keeps the design's advance widths, so the text measures the same at
    // every scale factor, whatever hinting the desktop asks for.
    font.setHintingPreference(QFont::PreferVerticalHinting);
    return font;
}
