#!/usr/bin/env python3
"""Draws the RVX4400w front-panel artwork as SVG files.

Everything here is drawn from plain shapes by this script; render_artwork
turns the SVG files that the program wants as PNG into PNG. Run
tools/artwork/build_artwork.sh to regenerate radio/QtProject/resources.
"""
import os
import struct
import sys

OUT = sys.argv[1] if len(sys.argv) > 1 else "."


def write(name, text):
    path = os.path.join(OUT, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def svg(width, height, body, defs=""):
    return (f'<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}" '
            f'viewBox="0 0 {width} {height}">\n<defs>{defs}</defs>\n{body}\n</svg>\n')


def knob_well(cx, cy, r):
    return (f'<circle cx="{cx}" cy="{cy}" r="{r + 10}" fill="url(#well)"/>'
            f'<circle cx="{cx}" cy="{cy}" r="{r + 3}" fill="#0d0f12"/>'
            + "".join(
                f'<line x1="{cx}" y1="{cy - r - 9}" x2="{cx}" y2="{cy - r - 4}" stroke="#8c96a3" '
                f'stroke-width="2" transform="rotate({a} {cx} {cy})"/>'
                for a in range(-135, 136, 27)))


def grille(x, y, w, h):
    holes = "".join(f'<circle cx="{x + 6 + i * 8}" cy="{y + 6 + j * 8}" r="2.2" fill="#0f1114"/>'
                    for i in range((w - 4) // 8) for j in range((h - 4) // 8))
    return f'<rect x="{x}" y="{y}" width="{w}" height="{h}" rx="10" fill="#2a3038"/>' + holes


def key_recess(x, y, w, h):
    return (f'<rect x="{x - 5}" y="{y - 5}" width="{w + 10}" height="{h + 10}" rx="12" '
            f'fill="#15181c" stroke="#3b424b" stroke-width="1.5"/>')


def front():
    w, h = 1177, 380
    defs = """
<linearGradient id="body" x1="0" y1="0" x2="0" y2="1">
  <stop offset="0" stop-color="#4a5360"/><stop offset="0.08" stop-color="#2f363f"/>
  <stop offset="0.9" stop-color="#1f242a"/><stop offset="1" stop-color="#121519"/></linearGradient>
<linearGradient id="face" x1="0" y1="0" x2="0" y2="1">
  <stop offset="0" stop-color="#39414b"/><stop offset="1" stop-color="#262b32"/></linearGradient>
<radialGradient id="well" cx="0.5" cy="0.45" r="0.6">
  <stop offset="0" stop-color="#0b0d10"/><stop offset="0.85" stop-color="#22272e"/>
  <stop offset="1" stop-color="#4b5563"/></radialGradient>
<linearGradient id="bezel" x1="0" y1="0" x2="0" y2="1">
  <stop offset="0" stop-color="#0a0b0d"/><stop offset="1" stop-color="#22262c"/></linearGradient>
"""
    body = [
        f'<rect x="4" y="24" width="{w - 8}" height="{h - 30}" rx="46" fill="url(#body)" '
        'stroke="#0b0d10" stroke-width="4"/>',
        f'<rect x="22" y="38" width="{w - 44}" height="{h - 60}" rx="34" fill="url(#face)" '
        'stroke="#505a66" stroke-width="1.5"/>',
        # Display window round the 320 x 240 LCD at 430, 50.
        '<rect x="414" y="36" width="352" height="270" rx="14" fill="url(#bezel)" '
        'stroke="#5c6773" stroke-width="2"/>',
        '<rect x="428" y="48" width="324" height="244" fill="#05070a"/>',
        # Speaker grilles and labels.
        grille(40, 240, 60, 96),
        grille(1085, 120, 60, 200),
        '<text x="590" y="330" text-anchor="middle" font-family="Liberation Sans, sans-serif" '
        'font-size="22" font-weight="bold" fill="#c9d1da" letter-spacing="6">RVX4400</text>',
        '<text x="190" y="218" text-anchor="middle" font-family="Liberation Sans, sans-serif" '
        'font-size="12" fill="#9aa5b1" letter-spacing="2">VOLUME</text>',
        '<text x="980" y="232" text-anchor="middle" font-family="Liberation Sans, sans-serif" '
        'font-size="12" fill="#9aa5b1" letter-spacing="2">CHANNEL</text>',
        knob_well(190, 130, 62),
        knob_well(980, 129, 62),
        # PTT bar and emergency key.
        '<rect x="106" y="234" width="111" height="99" rx="18" fill="#15181c" stroke="#3b424b"/>',
        '<circle cx="984" cy="293" r="36" fill="#15181c" stroke="#3b424b" stroke-width="1.5"/>',
        '<circle cx="984" cy="293" r="30" fill="#d9561f" stroke="#7a2a0a" stroke-width="2"/>',
        '<circle cx="984" cy="287" r="22" fill="#f07a3c" opacity="0.55"/>',
        '<circle cx="680" cy="330" r="5" fill="#2fd35c" stroke="#0b3d1a"/>',
    ]
    for x, y, kw, kh in [(305, 80, 92, 51), (305, 155, 92, 49), (305, 231, 93, 51),
                         (782, 79, 92, 51), (782, 155, 92, 51), (782, 230, 93, 51)]:
        body.append(key_recess(x, y, kw, kh))
    for x in (900, 1040):
        body.append(key_recess(x, 190, 31, 23))
    return svg(w, h, "\n".join(body), defs)


def key(pressed):
    top, bottom = ("#2a3038", "#444d58") if pressed else ("#6b7684", "#3a424c")
    shine = "0.05" if pressed else "0.25"
    return svg(92, 51, f"""
<rect x="1" y="1" width="90" height="49" rx="9" fill="url(#k)" stroke="#0c0e11" stroke-width="2"/>
<rect x="6" y="4" width="80" height="14" rx="6" fill="#ffffff" opacity="{shine}"/>""",
               f'<linearGradient id="k" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="{top}"/>'
               f'<stop offset="1" stop-color="{bottom}"/></linearGradient>')


def splash():
    return svg(320, 240, """
<rect width="320" height="240" fill="url(#s)"/>
<g transform="translate(160 92)" fill="none" stroke="#ffffff" stroke-width="5" stroke-linecap="round">
  <path d="M -22 -22 A 31 31 0 0 0 -22 22"/><path d="M 22 -22 A 31 31 0 0 1 22 22"/>
  <path d="M -40 -40 A 57 57 0 0 0 -40 40"/><path d="M 40 -40 A 57 57 0 0 1 40 40"/>
  <circle r="9" fill="#ffffff"/></g>
<text x="160" y="180" text-anchor="middle" font-family="Liberation Sans, sans-serif" font-size="34"
 font-weight="bold" fill="#ffffff" letter-spacing="4">RVX4400</text>
<text x="160" y="206" text-anchor="middle" font-family="Liberation Sans, sans-serif" font-size="13"
 fill="#cfd8ff" letter-spacing="2">PUSH-TO-TALK RADIO</text>""",
               '<linearGradient id="s" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#2a22ff"/>'
               '<stop offset="1" stop-color="#0b0766"/></linearGradient>')


def icon_contacts(x, y):
    return (f'<g transform="translate({x} {y})" fill="#ffffff"><circle cx="0" cy="-7" r="7"/>'
            '<path d="M -13 12 Q -13 -1 0 -1 Q 13 -1 13 12 Z"/></g>')


def icon_cog(x, y, r, fill, hole):
    teeth = "".join(f'<rect x="-3.5" y="{-r - 4}" width="7" height="8" rx="1.5" '
                    f'transform="rotate({a})"/>' for a in range(0, 360, 45))
    return (f'<g transform="translate({x} {y})" fill="{fill}">{teeth}<circle r="{r}"/>'
            f'<circle r="{r * 0.42}" fill="{hole}"/></g>')


def icon_speaker(x, y):
    return (f'<g transform="translate({x} {y})" fill="#ffffff" stroke="#ffffff" stroke-width="2.5" '
            'stroke-linecap="round"><path d="M -13 -5 H -6 L 3 -12 V 12 L -6 5 H -13 Z" stroke="none"/>'
            '<path d="M 7 -6 Q 11 0 7 6" fill="none"/><path d="M 11 -10 Q 18 0 11 10" fill="none"/></g>')


def icon_pin(x, y):
    return (f'<g transform="translate({x} {y})"><path d="M 0 13 L -9 -1 A 10.5 10.5 0 1 1 9 -1 Z" '
            'fill="#ffffff"/><circle cx="0" cy="-5" r="4" fill="#1f16ff"/></g>')


def home_background():
    # The talk-group list sits at the top and the volume / caller ID area in
    # the middle; icons sit along the left and right edges by the keys (the
    # settings cog is a separate picture: it changes when an update is out).
    body = ['<rect width="320" height="222" fill="#1f16ff"/>',
            '<rect x="0" y="0" width="320" height="222" fill="url(#h)"/>']
    body += [icon_contacts(22, 38),
             # Zone down (key 3) and zone up (key 6) arrows.
             '<path d="M 12 178 L 32 178 L 22 192 Z" fill="#ffffff"/>',
             icon_speaker(298, 38), icon_pin(298, 111),
             '<path d="M 288 192 L 308 192 L 298 178 Z" fill="#ffffff"/>']
    return svg(320, 222, "\n".join(body),
               '<linearGradient id="h" x1="0" y1="0" x2="0" y2="1"><stop offset="0" stop-color="#ffffff" '
               'stop-opacity="0.10"/><stop offset="1" stop-color="#000000" stop-opacity="0.15"/></linearGradient>')


def small(body, size=32, defs=""):
    return svg(size, size, body, defs)


def arrows():
    left = small('<path d="M 22 6 L 8 16 L 22 26 Z" fill="#ffffff"/>')
    right = small('<path d="M 10 6 L 24 16 L 10 26 Z" fill="#ffffff"/>')
    return left, right


def home_icon():
    return small('<path d="M 16 5 L 3 16 H 7 V 27 H 13 V 20 H 19 V 27 H 25 V 16 H 29 Z" fill="#ffffff"/>')


def dispatch_icon():
    return small('<rect x="5" y="9" width="22" height="15" rx="3" fill="#ffffff"/>'
                 '<path d="M 11 24 L 9 29 L 16 24 Z" fill="#ffffff"/>'
                 '<circle cx="11" cy="16.5" r="2" fill="#1f16ff"/><circle cx="16" cy="16.5" r="2" fill="#1f16ff"/>'
                 '<circle cx="21" cy="16.5" r="2" fill="#1f16ff"/>')


def zone_arrow(up):
    d = "M 4 22 L 16 8 L 28 22 Z" if up else "M 4 10 L 16 24 L 28 10 Z"
    return small(f'<path d="{d}" fill="#ffffff"/>')


def signal_bars(n):
    bars = "".join(f'<rect x="{2 + i * 6}" y="{16 - (i + 1) * 3}" width="4" height="{(i + 1) * 3}" '
                   f'fill="{"#ffffff" if i < n else "#4a4a4a"}"/>' for i in range(5))
    return svg(32, 16, bars)


def emergency_indicator():
    return svg(16, 16, '<path d="M 8 1 L 15 14 H 1 Z" fill="#ff2a1a"/>'
                       '<rect x="7" y="5" width="2" height="5" fill="#ffffff"/>'
                       '<rect x="7" y="11" width="2" height="2" fill="#ffffff"/>')


def warning_icon():
    return svg(96, 96, '<path d="M 48 6 L 92 88 H 4 Z" fill="#ffd21a" stroke="#000000" stroke-width="4" '
                       'stroke-linejoin="round"/><rect x="43" y="32" width="10" height="32" rx="3"/>'
                       '<circle cx="48" cy="75" r="6"/>')


def cancel_icon():
    return svg(64, 64, '<circle cx="32" cy="32" r="28" fill="#e0241b" stroke="#ffffff" stroke-width="4"/>'
                       '<path d="M 20 20 L 44 44 M 44 20 L 20 44" stroke="#ffffff" stroke-width="7" '
                       'stroke-linecap="round"/>')


def settings_cog(warning):
    body = icon_cog(16, 16, 9, "#d8dee6", "#2b3138")
    if warning:
        body += '<circle cx="25" cy="7" r="6" fill="#ffd21a" stroke="#000" stroke-width="1"/>' \
                '<rect x="24.2" y="3.5" width="1.6" height="4" fill="#000"/>' \
                '<rect x="24.2" y="8.5" width="1.6" height="1.6" fill="#000"/>'
    return small(body)


def app_icon(size):
    """The program's icon: the hand-held unit on a blue badge, sending.

    The launcher, the desktop menu and the window share it."""
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="{size}" height="{size}" viewBox="0 0 48 48">
<defs>
<linearGradient id="badge" x1="0" y1="0" x2="0" y2="1">
  <stop offset="0" stop-color="#2a22ff"/><stop offset="1" stop-color="#0b0766"/></linearGradient>
<linearGradient id="unit" x1="0" y1="0" x2="1" y2="1">
  <stop offset="0" stop-color="#4a5360"/><stop offset="1" stop-color="#1f242a"/></linearGradient>
</defs>
<rect x="2" y="2" width="44" height="44" rx="9" fill="url(#badge)"/>
<g fill="none" stroke="#ffffff" stroke-width="2.2" stroke-linecap="round">
  <path d="M 33.5 8.5 A 6.5 6.5 0 0 1 37.5 15"/><path d="M 35 4.5 A 11 11 0 0 1 42 14.5" opacity="0.7"/></g>
<rect x="27" y="5" width="3.6" height="12" rx="1.5" fill="#15181c"/>
<rect x="11" y="20" width="3" height="9" rx="1.2" fill="#d9561f"/>
<rect x="13" y="13" width="21" height="31" rx="4" fill="url(#unit)" stroke="#0b0d10" stroke-width="1.2"/>
<rect x="16.5" y="16.5" width="14" height="9.5" rx="1.5" fill="#7fd0ff"/>
<rect x="18" y="18.5" width="7" height="1.6" fill="#0b0766"/><rect x="18" y="21.8" width="10" height="1.6" fill="#0b0766"/>
<circle cx="19.5" cy="32.5" r="2.3" fill="#d8dee6"/><circle cx="27.5" cy="32.5" r="2.3" fill="#d9561f"/>
<rect x="17" y="38" width="13" height="2.6" rx="1.3" fill="#0f1114"/>
</svg>
"""


def main():
    left, right = arrows()
    art = {
        "svg/RVX4400_Unit_Front.svg": front(),
        "resources/talkbox_button.svg": key(False),
        "resources/talkbox_button_pressed.svg": key(True),
        "svg/splashScreen.svg": splash(),
        "svg/Home Screen rev 6.svg": home_background(),
        "svg/home-icon.svg": home_icon(),
        "svg/left_arrow.svg": left,
        "svg/right-arrow.svg": right,
        "svg/dispatch.svg": dispatch_icon(),
        "svg/zone_up.svg": zone_arrow(True),
        "svg/zone_down.svg": zone_arrow(False),
        "svg/emergency_indicator.svg": emergency_indicator(),
        "svg/warning.svg": warning_icon(),
        "svg/cancel.svg": cancel_icon(),
        "svg/process_info _large.svg": settings_cog(False),
        "svg/cogIconWarning.svg": settings_cog(True),
        "svg/48.svg": app_icon(48),
        "desktop/rvx4400w.svg": app_icon(256),
    }
    for n in range(6):
        art[f"svg/signal_bars_{n}.svg"] = signal_bars(n)
    for name, text in art.items():
        write(name, text)


if __name__ == "__main__":
    main()
