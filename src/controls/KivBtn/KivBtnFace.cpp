#include "controls/KivBtn/KivBtnFace.h"

#include <cmath>
#include <cstdlib>

#include "controls/KivBtn/KivBtnPictures.h"

namespace kiv::controls {

namespace raster = platform::raster;

namespace {

class FacePainter {
  public:
    FacePainter(raster::Surface& s, const FaceParams& p)
        : s_(s),
          p_(p),
          c_(p.colors),
          W(p.w),
          H(p.h),
          lastStyle_(p.lastCaptionStyle),
          textColour_(p.colors.text) {}

    int Paint() {
        raster::Clear(s_, p_.clearColor);
        Box(0, 0, W, H, c_.face);
        int pictureState;
        if (!p_.enabled) {
            Disabled();
            pictureState = 2;
        } else if (p_.state == FaceState::Up) {
            Up();
            pictureState = 0;
        } else if (p_.state == FaceState::Down) {
            Down();
            pictureState = 1;
        } else {
            return lastStyle_;
        }
        DrawPicture(pictureState);
        return lastStyle_;
    }

  private:
    ColorValue Shift(ColorValue c, int n) const { return ShiftColor(c, n, p_.softBevel, false); }
    ColorValue ShiftP(ColorValue c, int n) const { return ShiftColor(c, n, p_.softBevel, true); }

    void Box(int x, int y, int w, int h, ColorValue c) { raster::DrawBox(s_, x, y, w, h, c, false); }
    void Frame(int x, int y, int w, int h, ColorValue c) { raster::DrawBox(s_, x, y, w, h, c, true); }
    void Line(int x1, int y1, int x2, int y2, ColorValue c) { raster::DrawLine(s_, x1, y1, x2, y2, c); }
    void Pixel(int x, int y, ColorValue c) { raster::PutPixel(s_, x, y, c); }
    void Corners(ColorValue c) {
        Pixel(1, 1, c);
        Pixel(1, H - 2, c);
        Pixel(W - 2, 1, c);
        Pixel(W - 2, H - 2, c);
    }

    void Bevel(ColorValue c1, ColorValue c2, ColorValue c3, ColorValue c4, int inset, bool outerOnly) {
        const int d = std::abs(inset), r = W - 1 + inset, b = H - 1 + inset;
        Line(d, b, d, d, c1);
        Line(d, d, r, d, c1);
        Line(r, d, r, b, c2);
        Line(r, b, d - 1, b, c2);
        if (outerOnly) return;
        Line(d + 1, b - 1, d + 1, d + 1, c3);
        Line(d + 1, d + 1, r - 1, d + 1, c3);
        Line(r - 1, d + 1, r - 1, b - 1, c4);
        Line(r - 1, b - 1, d, b - 1, c4);
    }
    void OuterBevel(ColorValue c1, ColorValue c2) { Bevel(c1, c2, 0, 0, 0, true); }

    void Focus() {
        if (p_.showFocusRect && p_.hasFocus) raster::InvertFocusRect(s_, p_.faceRect);
    }
    void TextFocusBox() {
        if (!p_.hasFocus || !p_.showFocusRect) return;
        const Rect& r = p_.layout.captionRect;
        Frame(r.left - 2, r.top - 1, p_.layout.textWidth + 4, p_.layout.textHeight + 2, 0xCC9999);
    }

    // One row per line of the face, each a step further from the start colour.
    void Gradient(float span, ColorValue start, bool proportional, bool upwards) {
        const float factor = span / static_cast<float>(H);
        for (int i = 1; i <= H; ++i) {
            const int n = static_cast<int>(std::nearbyint(-factor * static_cast<float>(i)));
            const int y = upwards ? H - i : i;
            Line(0, y, W, y, proportional ? ShiftP(start, n) : Shift(start, n));
        }
    }

    void Text(const Rect& r, ColorValue c) {
        textColour_ = c;
        raster::DrawText(s_, r, p_.caption, font_, c);
    }

    void CaptionEffect(const Rect& r) {
        const int fx = p_.specialEffect;
        if (fx <= 0) return;
        const int t = p_.buttonType;
        ColorValue base = c_.face;
        if (t == 3 || t == 4 || t == 14) {
            base = c_.paleFace;
        } else if (p_.state == FaceState::Up && p_.isOver && p_.colorScheme != 2 && t == 9) {
            base = c_.selectLight;
        }
        Text(r.Moved(1, 1), Shift(base, fx == 2 ? 40 : -40));
        if (fx < 3) Text(r.Moved(-1, -1), Shift(base, fx == 2 ? -40 : 40));
    }

    void Caption(int style) {
        lastStyle_ = style;
        const CaptionLayout& layout = layoutOverride_ ? boldLayout_ : p_.layout;
        const Rect& normal = layout.captionRect;
        const Rect& pressed = layout.pressedRect;
        switch (style) {
            case 0:
                CaptionEffect(normal);
                Text(normal, c_.text);
                break;
            case 1:
                CaptionEffect(normal);
                Text(normal, c_.textOver);
                break;
            case 2:
                CaptionEffect(pressed);
                Text(pressed, p_.buttonType == 4 ? c_.light : c_.textOver);
                break;
            case 3:
                Text(pressed, c_.highlight);
                Text(normal, c_.shadow);
                break;
            case 4:
                Text(normal, c_.shadow);
                break;
            case 5:
                Text(normal, ShiftP(c_.paleFace, -104));
                break;
            case 6:
                Text(pressed, c_.highlight);
                Text(normal, c_.face);
                break;
            case 7:
                Text(pressed, Shift(c_.shadow, -50));
                Text(normal, c_.highlight);
                break;
            default:
                Text(normal, textColour_);
                break;
        }
    }
    void HoverCaption() { Caption(p_.isOver ? 1 : 0); }

    // The bold caption of the default type-14 button is laid out with bold metrics for this paint only.
    void DefaultBoldCaption(int style) {
        if (!p_.displayAsDefault) {
            Caption(style);
            return;
        }
        const QFont regular = font_;
        const CaptionLayout regularLayout = p_.layout;
        font_.setBold(true);
        const QFont bold = font_;
        const QString text = p_.caption;
        auto measure = [&bold, &text](const Rect& r) { return raster::MeasureText(r, text, bold); };
        boldLayout_ = LayoutCaption(W, H, p_.picturePosition, p_.pictureSize, measure, regularLayout);
        layoutOverride_ = true;
        Caption(style);
        layoutOverride_ = false;
        font_ = regular;
    }

    void Type3Frame() {
        Frame(0, 0, W, H, 0x733C00);
        Corners(0x7B4D10);
    }
    void Type3Edges(ColorValue frame, ColorValue bottom, ColorValue top, ColorValue top2, ColorValue sides) {
        Frame(1, 2, W - 2, H - 4, frame);
        Line(2, H - 2, W - 2, H - 2, bottom);
        Line(2, 1, W - 2, 1, top);
        Line(1, 2, W - 1, 2, top2);
        Line(2, 3, 2, H - 3, sides);
        Line(W - 3, 3, W - 3, H - 3, sides);
    }

    void Type4Up(int captionStyle) {
        Box(1, 1, W - 2, H - 2, c_.light);
        Caption(captionStyle);
        Frame(0, 0, W, H, c_.darkShadow);
        Corners(c_.darkShadow);
        Line(1, 2, 2, 0, c_.face);
        Line(3, 2, W - 3, 2, c_.highlight);
        Line(2, 2, 2, H - 3, c_.highlight);
        Pixel(3, 3, c_.highlight);
        Line(W - 3, 1, W - 3, H - 3, c_.face);
        Line(1, H - 3, W - 3, H - 3, c_.face);
        Pixel(W - 4, H - 4, c_.face);
        Line(W - 2, 2, W - 2, H - 2, c_.shadow);
        Line(2, H - 2, W - 2, H - 2, c_.shadow);
        Pixel(W - 3, H - 3, c_.shadow);
    }

    void Type14Panel() {
        Frame(0, 0, W, H, Shift(c_.shadow, -50));
        Frame(1, 1, W - 2, H - 2, Shift(c_.face, -9));
        Box(2, 2, W - 4, 2, c_.highlight);
        Box(2, 4, 2, H - 6, c_.highlight);
    }

    void Up() {
        switch (p_.buttonType) {
            case 1:
                HoverCaption();
                Bevel(c_.highlight, c_.shadow, c_.highlight, c_.shadow, -1, false);
                Frame(0, 0, W, H, c_.darkShadow);
                Focus();
                break;
            case 2:
                HoverCaption();
                if (p_.showFocusRect && p_.displayAsDefault) {
                    Bevel(c_.highlight, c_.darkShadow, c_.light, c_.shadow, -1, false);
                    Focus();
                    Frame(0, 0, W, H, c_.darkShadow);
                } else {
                    Bevel(c_.highlight, c_.darkShadow, c_.light, c_.shadow, 0, false);
                }
                break;
            case 3:
                Gradient(25.0f, c_.paleFace, true, false);
                HoverCaption();
                Type3Frame();
                if (p_.isOver) {
                    Type3Edges(0x31B2FF, 0x0096E7, 0xCEF3FF, 0x8CDBFF, 0x6BCBFF);
                } else if ((p_.hasFocus || p_.displayAsDefault) && p_.showFocusRect) {
                    Type3Edges(0xE7AE8C, 0xEF826B, 0xFFE7CE, 0xF7D7BD, 0xF0D1B5);
                } else {
                    const ColorValue pf = c_.paleFace;
                    Line(2, H - 2, W - 2, H - 2, ShiftP(pf, -48));
                    Line(1, H - 3, W - 2, H - 3, ShiftP(pf, -32));
                    Line(W - 2, 2, W - 2, H - 2, ShiftP(pf, -36));
                    Line(W - 3, 3, W - 3, H - 3, ShiftP(pf, -24));
                    Line(2, 1, W - 2, 1, ShiftP(pf, 16));
                    Line(1, 2, W - 2, 2, ShiftP(pf, 10));
                    Line(1, 2, 1, H - 2, ShiftP(pf, -5));
                    Line(2, 3, 2, H - 3, ShiftP(pf, -10));
                }
                break;
            case 4:
                Type4Up(p_.isOver ? 1 : 0);
                break;
            case 5:
                Box(1, 1, W - 1, H - 1, Shift(c_.face, 12));
                HoverCaption();
                Frame(1, 1, W - 1, H - 1, c_.highlight);
                Frame(0, 0, W - 1, H - 1, Shift(c_.shadow, -26));
                Pixel(1, H - 2, Shift(c_.shadow, 26));
                Pixel(W - 2, 1, Shift(c_.shadow, 26));
                TextFocusBox();
                break;
            case 6:
                HoverCaption();
                Bevel(Shift(c_.light, 8), c_.shadow, Shift(c_.light, 8), c_.shadow, 0, false);
                Focus();
                break;
            case 7:
                HoverCaption();
                OuterBevel(c_.highlight, c_.shadow);
                Focus();
                break;
            case 8:
                HoverCaption();
                if (p_.isOver) OuterBevel(c_.highlight, c_.shadow);
                Focus();
                break;
            case 9:
                if (p_.isOver) Box(1, 1, W, H, c_.selectLight);
                HoverCaption();
                if (p_.isOver) Frame(0, 0, W, H, c_.select);
                Focus();
                break;
            case 11:
                Background();
                HoverCaption();
                Focus();
                break;
            case 12:
                HoverCaption();
                if (p_.isOver) Bevel(c_.highlight, c_.darkShadow, c_.light, c_.shadow, 0, false);
                Focus();
                break;
            case 13:
                raster::DrawOval(s_, 0, 0, W, H, p_.isOver ? c_.shadow : c_.face, c_.face);
                HoverCaption();
                break;
            case 14:
                if (p_.isOver) {
                    Box(0, 0, W, H, c_.light);
                } else {
                    Gradient(58.0f, c_.highlight, false, false);
                }
                DefaultBoldCaption(p_.isOver ? 1 : 0);
                Type14Panel();
                Focus();
                break;
            default:
                break;
        }
    }

    void Down() {
        switch (p_.buttonType) {
            case 1:
                Caption(2);
                Bevel(c_.shadow, c_.highlight, c_.shadow, c_.highlight, -1, false);
                Frame(0, 0, W, H, c_.darkShadow);
                Focus();
                break;
            case 2:
                Caption(2);
                if (p_.showFocusRect && p_.displayAsDefault) {
                    Frame(0, 0, W, H, c_.darkShadow);
                    Frame(1, 1, W - 2, H - 2, c_.shadow);
                    Focus();
                } else {
                    Bevel(c_.darkShadow, c_.highlight, c_.shadow, c_.light, 0, false);
                }
                break;
            case 3: {
                const ColorValue base = ShiftP(c_.paleFace, -32);
                Gradient(25.0f, base, true, true);
                Caption(2);
                Type3Frame();
                Line(2, H - 2, W - 2, H - 2, ShiftP(base, 16));
                Line(1, H - 3, W - 2, H - 3, ShiftP(base, 10));
                Line(W - 2, 2, W - 2, H - 2, ShiftP(base, 5));
                Line(W - 3, 3, W - 3, H - 3, c_.paleFace);
                Line(2, 1, W - 2, 1, ShiftP(base, -32));
                Line(1, 2, W - 2, 2, ShiftP(base, -24));
                Line(1, 2, 1, H - 2, ShiftP(base, -32));
                Line(2, 2, 2, H - 2, ShiftP(base, -22));
                break;
            }
            case 4: {
                const ColorValue pressedFill = Shift(c_.shadow, -16);
                Box(1, 1, W - 2, H - 2, pressedFill);
                c_.paleFace = pressedFill;  // the caption's effect copies sit on the pressed fill
                Caption(2);
                c_.paleFace = Shift(c_.face, 48);
                Frame(0, 0, W, H, c_.darkShadow);
                Frame(1, 1, W - 2, H - 2, Shift(c_.shadow, -64));
                Frame(2, 2, W - 4, H - 4, Shift(c_.shadow, -32));
                Pixel(2, 2, Shift(c_.shadow, -64));
                Pixel(3, 3, Shift(c_.shadow, -32));
                Corners(c_.darkShadow);
                Line(W - 3, 1, W - 3, H - 3, c_.shadow);
                Line(1, H - 3, W - 2, H - 3, c_.shadow);
                Pixel(W - 4, H - 4, c_.shadow);
                Line(W - 2, 3, W - 2, H - 2, pressedFill);
                Line(3, H - 2, W - 2, H - 2, pressedFill);
                Line(W - 2, H - 3, W - 4, H - 1, Shift(c_.shadow, -32));
                Pixel(2, H - 2, Shift(c_.shadow, -32));
                Pixel(W - 2, 2, Shift(c_.shadow, -32));
                break;
            }
            case 5:
                Box(1, 1, W - 2, H - 2, Shift(c_.shadow, 16));
                Frame(0, 0, W - 1, H - 1, Shift(c_.shadow, -26));
                Line(W - 1, 1, W - 1, H, c_.highlight);
                Line(1, H - 1, W - 1, H - 1, c_.highlight);
                Text(p_.layout.captionRect, c_.textOver);
                TextFocusBox();
                break;
            case 6:
                Caption(2);
                Bevel(c_.shadow, Shift(c_.light, 8), c_.shadow, Shift(c_.light, 8), 0, false);
                Focus();
                break;
            case 7:
            case 8:
                Caption(2);
                OuterBevel(c_.shadow, c_.highlight);
                Focus();
                break;
            case 9:
                if (p_.isOver) {
                    Box(0, 0, W, H,
                        p_.colorScheme == 2 ? Shift(c_.selectLight, -32) : TintColor(c_.select, 128));
                }
                Caption(2);
                Frame(0, 0, W, H, c_.select);
                Focus();
                break;
            case 11:
                Background();
                Caption(2);
                Focus();
                break;
            case 12:
                Caption(2);
                Bevel(c_.darkShadow, c_.highlight, c_.shadow, c_.light, 0, false);
                Focus();
                break;
            case 13:
                raster::DrawOval(s_, 0, 0, W, H, c_.darkShadow, Shift(c_.face, -32));
                Caption(2);
                break;
            case 14:
                Box(1, 1, W, H, Shift(c_.face, -9));
                Frame(0, 0, W, H, Shift(c_.shadow, -48));
                Line(2, H - 2, W - 2, H - 2, c_.highlight);
                Line(W - 2, 2, W - 2, H - 1, c_.highlight);
                Caption(7);
                Focus();
                break;
            default:
                break;
        }
    }

    void Disabled() {
        switch (p_.buttonType) {
            case 1:
                Caption(3);
                Bevel(c_.highlight, c_.shadow, c_.highlight, c_.shadow, -1, false);
                Frame(0, 0, W, H, c_.darkShadow);
                break;
            case 2:
                Caption(3);
                Bevel(c_.highlight, c_.darkShadow, c_.light, c_.shadow, 0, false);
                break;
            case 3:
                Box(0, 0, W, H, ShiftP(c_.paleFace, -24));
                Caption(5);
                Frame(0, 0, W, H, ShiftP(c_.paleFace, -84));
                Corners(ShiftP(c_.paleFace, -72));
                break;
            case 4:
                Type4Up(3);
                break;
            case 5:
                Caption(4);
                Frame(0, 0, W, H, c_.shadow);
                break;
            case 6:
                Caption(4);
                Bevel(Shift(c_.light, 8), c_.shadow, Shift(c_.light, 8), c_.shadow, 0, false);
                break;
            case 7:
                Caption(3);
                OuterBevel(c_.highlight, c_.shadow);
                break;
            case 8:
            case 12:
            case 13:
                Caption(3);
                break;
            case 9:
                Caption(4);
                break;
            case 11:
                Background();
                Caption(3);
                break;
            case 14:
                Gradient(58.0f, c_.highlight, false, false);
                Type14Panel();
                Caption(6);
                break;
            default:
                break;
        }
    }

    void Background() {
        if (!p_.background.isNull()) raster::CopyBlock(s_, 0, 0, p_.background);
    }

    // Picture drawing ---------------------------------------------------------------------------

    void Blit(const QImage& pic, int dx, int dy, BlitOptions o) {
        o.mask = c_.mask;
        o.useMask = p_.useMaskColor;
        BlitPicture(s_, p_.picturePos.x() + dx, p_.picturePos.y() + dy, p_.pictureSize.width(),
                    p_.pictureSize.height(), pic, o);
    }
    void Plain(const QImage& pic, int dx, int dy) { Blit(pic, dx, dy, {}); }
    void Silhouette(const QImage& pic, int dx, int dy, ColorValue colour, bool skipBright = false) {
        BlitOptions o;
        o.tint = colour;
        o.skipBright = skipBright;
        Blit(pic, dx, dy, o);
    }

    void PictureEffect(int offset, const QImage& pic) {
        const int fx = p_.specialEffect;
        if (fx <= 0) return;
        ColorValue base = c_.face;
        if (p_.buttonType == 3) {
            base = c_.paleFace;
        } else if (offset == -1 && p_.colorScheme != 2) {
            base = c_.selectLight;
        }
        Silhouette(pic, offset + 1, offset + 1, Shift(base, fx == 2 ? 40 : -40));
        if (fx == 1 || fx == 2) Silhouette(pic, offset - 1, offset - 1, Shift(base, fx == 2 ? -40 : 40));
    }

    void DrawPicture(int pictureState) {
        const QImage& normal = p_.pictureNormal;
        if (normal.isNull()) return;
        const QImage& over = p_.pictureOver;
        const int t = p_.buttonType;
        if (pictureState == 0) {
            if (!p_.isOver) {
                PictureEffect(0, normal);
                BlitOptions o;
                o.greyscale = p_.useGreyscale;
                o.blend = t == 9;
                Blit(normal, 0, 0, o);
            } else if (t == 9) {
                PictureEffect(-1, normal);
                Silhouette(normal, 1, 1, c_.shadow);
                Plain(normal, -1, -1);
            } else if (!over.isNull()) {
                PictureEffect(0, over);
                Plain(over, 0, 0);
            } else {
                PictureEffect(0, normal);
                Plain(normal, 0, 0);
            }
        } else if (pictureState == 1) {
            if (!over.isNull() && t != 9) {
                const int d = t == 5 ? 0 : 1;
                Plain(over, d, d);
            } else if (t != 5 && t != 9) {
                PictureEffect(1, normal);
                Plain(normal, 1, 1);
            } else {
                PictureEffect(0, normal);
                Plain(normal, 0, 0);
            }
        } else {
            if (t == 5 || t == 6 || t == 9) {
                Silhouette(normal, 0, 0, t == 9 ? Shift(c_.shadow, 13) : c_.shadow, true);
            } else if (t == 3) {
                BlitOptions o;
                o.greyscale = true;
                Blit(normal, 1, 1, o);
            } else {
                Silhouette(normal, 1, 1, c_.highlight, true);
                Silhouette(normal, 0, 0, c_.shadow, true);
            }
        }
        if (p_.picturePosition == 4) Caption(lastStyle_);
    }

    raster::Surface& s_;
    const FaceParams& p_;
    ColorSet c_;
    const int W;
    const int H;
    int lastStyle_;
    ColorValue textColour_;
    QFont font_ = p_.font;
    CaptionLayout boldLayout_;
    bool layoutOverride_ = false;
};

}  // namespace

int PaintFace(raster::Surface& s, const FaceParams& p) {
    return FacePainter(s, p).Paint();
}

}  // namespace kiv::controls
