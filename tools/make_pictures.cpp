// Makes the demo's six pictures: the warning, the credits, the three scene
// pictures and the greetings strip. Everything is drawn by code (text through
// FreeType with the DejaVu fonts) and written as baseline JPEG at quality 94
// without chroma subsampling. Same fonts and libraries, same bytes.
//
// It also draws the program's icon at the sizes desktops ask for, as RGBA
// PNG files in OUTPUT_DIR/icons.
//
// Usage: make_pictures OUTPUT_DIR [FONT_DIR]
#include <ft2build.h>
#include FT_FREETYPE_H

#include <jpeglib.h>
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/demo_types.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Colour {
    double r = 0, g = 0, b = 0;  // 0 to 255, clamped only on output
};

Colour operator+(Colour a, Colour b) {
    return {a.r + b.r, a.g + b.g, a.b + b.b};
}
Colour operator*(Colour a, double k) {
    return {a.r * k, a.g * k, a.b * k};
}
Colour mix(Colour a, Colour b, double t) {
    return a * (1.0 - t) + b * t;
}

double clamp01(double v) {
    return v < 0.0 ? 0.0 : v > 1.0 ? 1.0 : v;
}
double smoothstep(double edge0, double edge1, double x) {
    const double t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3.0 - 2.0 * t);
}
// Anti-aliased coverage of a shape from its signed distance in pixels.
double coverage(double distance) {
    return clamp01(0.5 - distance);
}

struct Canvas {
    int width;
    int height;
    std::vector<Colour> px;
    Canvas(int w, int h) : width(w), height(h), px(static_cast<size_t>(w) * h) {}
    Colour& at(int x, int y) { return px[static_cast<size_t>(y) * width + x]; }
    void fill(const std::function<Colour(int, int)>& shade) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                at(x, y) = shade(x, y);
            }
        }
    }
    void blend(int x, int y, Colour c, double alpha) {
        if (x >= 0 && y >= 0 && x < width && y < height && alpha > 0.0) {
            at(x, y) = mix(at(x, y), c, clamp01(alpha));
        }
    }
    void add(int x, int y, Colour c) {
        if (x >= 0 && y >= 0 && x < width && y < height) {
            at(x, y) = at(x, y) + c;
        }
    }
};

// A coverage layer, 0 to 1 per pixel: text is drawn into one, then blurred
// for glows and shadows, then composited.
struct Mask {
    int width;
    int height;
    std::vector<double> a;
    Mask(int w, int h) : width(w), height(h), a(static_cast<size_t>(w) * h, 0.0) {}
    double at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) {
            return 0.0;
        }
        return a[static_cast<size_t>(y) * width + x];
    }
    double& ref(int x, int y) { return a[static_cast<size_t>(y) * width + x]; }
};

// Three box blurs approximate a gaussian.
Mask blurred(const Mask& in, int radius) {
    Mask out = in;
    Mask tmp(in.width, in.height);
    const double scale = 1.0 / (2 * radius + 1);
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < in.height; ++y) {
            for (int x = 0; x < in.width; ++x) {
                double sum = 0.0;
                for (int k = -radius; k <= radius; ++k) {
                    sum += out.at(x + k, y);
                }
                tmp.ref(x, y) = sum * scale;
            }
        }
        for (int y = 0; y < in.height; ++y) {
            for (int x = 0; x < in.width; ++x) {
                double sum = 0.0;
                for (int k = -radius; k <= radius; ++k) {
                    sum += tmp.at(x, y + k);
                }
                out.ref(x, y) = sum * scale;
            }
        }
    }
    return out;
}

void paint(Canvas& canvas, const Mask& mask, const std::function<Colour(int, int)>& colour,
           double opacity = 1.0, int dx = 0, int dy = 0) {
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const double a = mask.at(x - dx, y - dy) * opacity;
            if (a > 0.0) {
                canvas.blend(x, y, colour(x, y), a);
            }
        }
    }
}

void glow(Canvas& canvas, const Mask& mask, Colour colour, double strength) {
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            canvas.add(x, y, colour * (mask.at(x, y) * strength));
        }
    }
}

// Integer hash noise: the same on every machine, no library generator.
uint32_t hash(uint32_t x, uint32_t y, uint32_t seed) {
    uint32_t h = x * 0x8DA6B343u ^ y * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return h;
}
double hash01(int x, int y, uint32_t seed) {
    return hash(static_cast<uint32_t>(x), static_cast<uint32_t>(y), seed) / 4294967296.0;
}
double valueNoise(double x, double y, uint32_t seed) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int ix = truncToInt(fx);
    const int iy = truncToInt(fy);
    const double tx = smoothstep(0.0, 1.0, x - fx);
    const double ty = smoothstep(0.0, 1.0, y - fy);
    const double top = hash01(ix, iy, seed) * (1 - tx) + hash01(ix + 1, iy, seed) * tx;
    const double bottom = hash01(ix, iy + 1, seed) * (1 - tx) + hash01(ix + 1, iy + 1, seed) * tx;
    return top * (1 - ty) + bottom * ty;
}
double fbm(double x, double y, int octaves, uint32_t seed) {
    double sum = 0.0;
    double amplitude = 0.5;
    for (int o = 0; o < octaves; ++o) {
        sum += valueNoise(x, y, seed + o) * amplitude;
        x = x * 2.03 + 17.1;
        y = y * 2.01 + 5.7;
        amplitude *= 0.5;
    }
    return sum;
}

// Scattered stars, avoiding nothing: drawn first, covered by what comes later.
void stars(Canvas& canvas, int count, uint32_t seed, double brightness) {
    for (int s = 0; s < count; ++s) {
        const double x = hash01(s, 1, seed) * canvas.width;
        const double y = hash01(s, 2, seed) * canvas.height;
        const double size = 0.45 + std::pow(hash01(s, 3, seed), 8.0) * 0.9;
        const double light = brightness * (0.2 + 0.8 * std::pow(hash01(s, 4, seed), 2.0));
        const Colour tint = mix(Colour{200, 210, 255}, Colour{255, 220, 200}, hash01(s, 5, seed));
        const int x0 = truncToInt(x) - 3;
        const int y0 = truncToInt(y) - 3;
        for (int py = y0; py < y0 + 7; ++py) {
            for (int px = x0; px < x0 + 7; ++px) {
                const double d = std::hypot(px + 0.5 - x, py + 0.5 - y);
                canvas.add(px, py, tint * (light * std::exp(-d * d / (size * size))));
            }
        }
    }
}

// ---- Text ---------------------------------------------------------------

FT_Library freetype;

struct Font {
    FT_Face face = nullptr;
};

Font openFont(const std::string& dir, const char* file) {
    Font font;
    const std::string path = dir + "/" + file;
    if (FT_New_Face(freetype, path.c_str(), 0, &font.face) != 0) {
        std::fprintf(stderr, "make_pictures: cannot open font %s\n", path.c_str());
        std::exit(1);
    }
    return font;
}

std::vector<uint32_t> codePoints(const std::string& utf8) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (++i; extra > 0 && i < utf8.size(); --extra, ++i) {
            cp = cp << 6 | (static_cast<unsigned char>(utf8[i]) & 0x3F);
        }
        out.push_back(cp);
    }
    return out;
}

// Advances in 1/64 pixel, with kerning, plus extra tracking per glyph.
double textWidth(const Font& font, int size, const std::string& text, double tracking = 0.0) {
    FT_Set_Pixel_Sizes(font.face, 0, static_cast<FT_UInt>(size));
    long pen = 0;
    FT_UInt previous = 0;
    int glyphs = 0;
    for (uint32_t cp : codePoints(text)) {
        const FT_UInt index = FT_Get_Char_Index(font.face, cp);
        if (previous != 0 && index != 0) {
            FT_Vector kern;
            FT_Get_Kerning(font.face, previous, index, FT_KERNING_DEFAULT, &kern);
            pen += kern.x;
        }
        FT_Load_Glyph(font.face, index, FT_LOAD_TARGET_LIGHT);
        pen += font.face->glyph->advance.x;
        previous = index;
        ++glyphs;
    }
    return pen / 64.0 + tracking * std::max(0, glyphs - 1);
}

// Draws text with its baseline at `baseline`, starting at x; returns the end x.
double drawText(Mask& mask, const Font& font, int size, double x, int baseline,
                const std::string& text, double tracking = 0.0) {
    FT_Set_Pixel_Sizes(font.face, 0, static_cast<FT_UInt>(size));
    double pen = x;
    FT_UInt previous = 0;
    for (uint32_t cp : codePoints(text)) {
        const FT_UInt index = FT_Get_Char_Index(font.face, cp);
        if (previous != 0 && index != 0) {
            FT_Vector kern;
            FT_Get_Kerning(font.face, previous, index, FT_KERNING_DEFAULT, &kern);
            pen += kern.x / 64.0;
        }
        FT_Load_Glyph(font.face, index, FT_LOAD_TARGET_LIGHT | FT_LOAD_RENDER);
        const FT_GlyphSlot slot = font.face->glyph;
        const FT_Bitmap& bitmap = slot->bitmap;
        const int left = truncToInt(std::floor(pen + 0.5)) + slot->bitmap_left;
        const int top = baseline - slot->bitmap_top;
        for (unsigned row = 0; row < bitmap.rows; ++row) {
            for (unsigned col = 0; col < bitmap.width; ++col) {
                const int px = left + static_cast<int>(col);
                const int py = top + static_cast<int>(row);
                if (px >= 0 && py >= 0 && px < mask.width && py < mask.height) {
                    const double a = bitmap.buffer[row * bitmap.pitch + col] / 255.0;
                    double& m = mask.ref(px, py);
                    m = 1.0 - (1.0 - m) * (1.0 - a);
                }
            }
        }
        pen += slot->advance.x / 64.0 + tracking;
        previous = index;
    }
    return pen;
}

double drawCentred(Mask& mask, const Font& font, int size, double centreX, int baseline,
                   const std::string& text, double tracking = 0.0) {
    const double w = textWidth(font, size, text, tracking);
    drawText(mask, font, size, centreX - w / 2.0, baseline, text, tracking);
    return w;
}

// ---- Output -------------------------------------------------------------

uint8_t toSample(double v) {
    v = v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v;
    return static_cast<uint8_t>(truncToInt(v + 0.5));
}

void writeJpeg(const Canvas& canvas, const std::string& path) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::fprintf(stderr, "make_pictures: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(canvas.width);
    cinfo.image_height = static_cast<JDIMENSION>(canvas.height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 94, TRUE);
    for (int c = 0; c < 3; ++c) {  // full-resolution colour: sharp coloured text
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    cinfo.optimize_coding = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(canvas.width) * 3);
    for (int y = 0; y < canvas.height; ++y) {
        for (int x = 0; x < canvas.width; ++x) {
            const Colour& c = canvas.px[static_cast<size_t>(y) * canvas.width + x];
            row[static_cast<size_t>(x) * 3] = toSample(c.r);
            row[static_cast<size_t>(x) * 3 + 1] = toSample(c.g);
            row[static_cast<size_t>(x) * 3 + 2] = toSample(c.b);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "make_pictures: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::printf("wrote %s (%d x %d)\n", path.c_str(), canvas.width, canvas.height);
}

struct Fonts {
    Font sans;
    Font bold;
    Font condensedBold;
};

// ---- Pictures -----------------------------------------------------------

// Signed distance to an equilateral triangle of half side r, centred on its
// centroid, pointing up (y grows downward on screen).
double triangleDistance(double px, double py, double r) {
    const double k = std::sqrt(3.0);
    double x = std::fabs(px) - r;
    double y = -py + r / k;
    if (x + k * y > 0.0) {
        const double nx = (x - k * y) / 2.0;
        const double ny = (-k * x - y) / 2.0;
        x = nx;
        y = ny;
    }
    x -= std::clamp(x, -2.0 * r, 0.0);
    return -std::hypot(x, y) * (y < 0.0 ? -1.0 : 1.0);
}

double segmentDistance(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax;
    const double dy = by - ay;
    const double t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy));
    return std::hypot(px - ax - t * dx, py - ay - t * dy);
}

// A dark screen with a warning sign and plain, large text, readable in the
// five seconds it is shown.
Canvas warningPicture(const Fonts& f) {
    Canvas c(640, 480);
    c.fill([](int x, int y) {
        const double vx = (x - 320) / 320.0;
        const double vy = (y - 240) / 240.0;
        return mix(Colour{12, 13, 24}, Colour{22, 15, 30}, y / 479.0) *
               (1.0 - 0.35 * (vx * vx + vy * vy));
    });
    // Hazard bands along the top and bottom edges.
    const Colour amber{226, 160, 32};
    for (int y = 0; y < 480; ++y) {
        if (y >= 14 && y < 466) {
            continue;
        }
        for (int x = 0; x < 640; ++x) {
            const double phase = std::fmod(x + y + 1000.0, 32.0);
            const double edge = std::min(std::fabs(phase - 8.0), std::fabs(phase - 24.0));
            const double stripe = phase > 8.0 && phase < 24.0 ? 1.0 : 0.0;
            const double a = std::fabs(stripe - clamp01(0.5 - edge / 1.4) * (stripe * 2 - 1));
            c.at(x, y) = mix(Colour{16, 13, 10}, amber * 0.85, a);
        }
    }
    for (int x = 0; x < 640; ++x) {
        c.at(x, 14) = amber;
        c.at(x, 465) = amber;
    }

    // The sign: a rounded amber triangle with a dark exclamation mark.
    const double cx = 320.0;
    const double cy = 112.0;
    for (int y = 40; y < 160; ++y) {
        for (int x = 250; x < 390; ++x) {
            const double px = x + 0.5 - cx;
            const double py = y + 0.5 - cy;
            const double triangle = triangleDistance(px, py, 50.0) - 6.0;
            c.blend(x, y, Colour{255, 186, 40}, coverage(triangle));
            const double bar = segmentDistance(px, py, 0.0, -26.0, 0.0, 6.0) - 5.5;
            const double dot = std::hypot(px, py - 20.0) - 5.5;
            c.blend(x, y, Colour{24, 18, 14}, coverage(std::min(bar, dot)));
        }
    }

    Mask heading(640, 480);
    drawCentred(heading, f.bold, 31, 320, 214, "PHOTOSENSITIVITY WARNING", 0.5);
    glow(c, blurred(heading, 6), Colour{255, 150, 30}, 0.45);
    paint(c, heading, [](int, int) { return Colour{255, 196, 70}; });
    for (int x = 150; x < 490; ++x) {
        const double a = smoothstep(150, 230, x) * smoothstep(490, 410, x);
        c.blend(x, 230, Colour{255, 196, 70}, 0.8 * a);
    }

    Mask body(640, 480);
    const char* lines[] = {
        "The final part of this demo flickers: the whole",
        "screen flashes on and off at the frame rate.",
        "",
        "If flashing lights can trigger seizures or make",
        "you unwell, please do not watch it.",
    };
    int baseline = 272;
    for (const char* line : lines) {
        drawCentred(body, f.sans, 20, 320, baseline, line);
        baseline += *line == 0 ? 16 : 30;
    }
    paint(c, body, [](int, int) { return Colour{238, 234, 226}; });
    Mask escape(640, 480);
    drawCentred(escape, f.bold, 20, 320, 424, "Press Escape at any time to quit.");
    paint(c, escape, [](int, int) { return Colour{255, 196, 70}; });
    return c;
}

// The title with a neon glow over a faint nebula, then the credits.
Canvas creditsPicture(const Fonts& f) {
    Canvas c(640, 480);
    c.fill([](int x, int y) {
        const double d = std::hypot(x - 320.0, (y - 170.0) * 1.2) / 420.0;
        const Colour base = mix(Colour{34, 16, 62}, Colour{5, 5, 14}, clamp01(d));
        const double n = fbm(x / 90.0, y / 90.0, 5, 11);
        const double wisps = std::pow(clamp01(n * 1.6 - 0.45), 2.0);
        return base +
               mix(Colour{90, 30, 140}, Colour{20, 90, 130}, fbm(x / 200.0, y / 200.0, 3, 5)) *
                   (wisps * 0.55);
    });
    stars(c, 90, 7, 130);

    Mask title(640, 480);
    int size = 92;
    while (textWidth(f.bold, size, "QUELTRAVINE", 2.0) > 590) {
        --size;
    }
    drawCentred(title, f.bold, size, 320, 172, "QUELTRAVINE", 2.0);
    const int top = 172 - truncToInt(size * 0.73);
    paint(
        c, blurred(title, 3),
        [](int, int) {
            return Colour{0, 0, 0};
        },
        0.8, 3, 5);
    glow(c, blurred(title, 10), Colour{170, 60, 255}, 1.1);
    paint(c, title, [top](int, int y) {
        const double t = clamp01((y - top) / 70.0);
        return t < 0.5 ? mix(Colour{150, 240, 255}, Colour{235, 235, 255}, t * 2.0)
                       : mix(Colour{235, 235, 255}, Colour{255, 90, 200}, t * 2.0 - 1.0);
    });

    Mask subtitle(640, 480);
    drawCentred(subtitle, f.sans, 18, 320, 214, "a realtime demo in 640 x 480", 1.0);
    paint(c, subtitle, [](int, int) { return Colour{196, 196, 230}; });

    for (int x = 110; x < 530; ++x) {
        const double a = smoothstep(110, 230, x) * smoothstep(530, 410, x);
        c.blend(x, 238, mix(Colour{120, 220, 255}, Colour{255, 90, 200}, (x - 110) / 420.0), a);
    }

    Mask roles(640, 480);
    Mask names(640, 480);
    const char* credits[] = {"code", "music", "graphics"};
    int baseline = 296;
    for (const char* role : credits) {
        drawText(roles, f.bold, 24, 300 - textWidth(f.bold, 24, role), baseline, role);
        drawText(names, f.sans, 24, 322, baseline, "the Queltravine team");
        baseline += 44;
    }
    glow(c, blurred(roles, 5), Colour{255, 110, 40}, 0.35);
    paint(c, roles, [](int, int) { return Colour{255, 176, 92}; });
    paint(c, names, [](int, int) { return Colour{240, 240, 250}; });

    Mask footer(640, 480);
    drawCentred(footer, f.sans, 15, 320, 452,
                "music synthesised live  \u2022  every picture made by code");
    paint(c, footer, [](int, int) { return Colour{150, 150, 192}; });
    return c;
}

// A striped sun over a neon grid, with the sky and the ground kept dark: the
// moving XOR pattern of its scene shows wherever the picture is dark.
Canvas horizonPicture(const Fonts&) {
    constexpr double kHorizon = 300.0;
    const double sunX = 320.0;
    const double sunY = 250.0;
    const double sunR = 150.0;
    Canvas c(640, 480);
    c.fill([&](int x, int y) {
        if (y < kHorizon) {
            const double t = y / kHorizon;
            Colour sky = mix(Colour{3, 2, 14}, Colour{44, 8, 58}, t * t);
            const double d = std::hypot(x - sunX, y - sunY);
            sky = sky + Colour{255, 50, 140} * (0.22 * std::exp(-std::max(0.0, d - sunR) / 45.0));
            return sky;
        }
        return mix(Colour{14, 2, 26}, Colour{2, 0, 8}, clamp01((y - kHorizon) / 120.0));
    });
    stars(c, 90, 3, 170);
    for (int y = 0; y < 300; ++y) {  // no stars on the sun's glow
        for (int x = 0; x < 640; ++x) {
            const double d = std::hypot(x - sunX, y - sunY);
            if (d < sunR + 40) {
                const double t = y / kHorizon;
                const Colour sky =
                    mix(Colour{3, 2, 14}, Colour{44, 8, 58}, t * t) +
                    Colour{255, 50, 140} * (0.22 * std::exp(-std::max(0.0, d - sunR) / 45.0));
                c.at(x, y) = mix(c.at(x, y), sky, smoothstep(sunR + 40, sunR + 20, d));
            }
        }
    }

    // The sun, cut by slits that widen toward the horizon.
    for (int y = truncToInt(sunY - sunR) - 1; y < kHorizon; ++y) {
        for (int x = truncToInt(sunX - sunR) - 1; x <= truncToInt(sunX + sunR) + 1; ++x) {
            const double py = y + 0.5;
            const double disc = coverage(std::hypot(x + 0.5 - sunX, py - sunY) - sunR);
            double slit = 0.0;
            if (py > 196.0) {
                const double u = (py - 196.0) / (kHorizon - 196.0);
                const double phase = std::fmod(py - 196.0, 17.0);
                const double width = 1.5 + 7.5 * u;
                slit = clamp01(std::min(phase, width - phase) + 0.5) * (phase < width ? 1.0 : 0.0);
                slit = std::max(slit, clamp01(0.5 - std::fabs(phase - width)) * 0.5);
            }
            const double t = clamp01((py - (sunY - sunR)) / (kHorizon - (sunY - sunR)));
            const Colour colour =
                t < 0.45 ? mix(Colour{255, 246, 170}, Colour{255, 160, 70}, t / 0.45)
                         : mix(Colour{255, 160, 70}, Colour{255, 40, 150}, (t - 0.45) / 0.55);
            c.blend(x, y, colour, disc * (1.0 - slit));
        }
    }

    // Two ranges of mountains, low in the middle so the sun stands clear.
    for (int x = 0; x < 640; ++x) {
        const double side = std::fabs(x + 0.5 - 320.0);
        const double far = kHorizon - (14.0 + 70.0 * fbm(x / 60.0, 0.5, 5, 21)) *
                                          (0.25 + 0.75 * smoothstep(40.0, 300.0, side));
        const double near =
            kHorizon - (6.0 + 95.0 * fbm(x / 45.0, 3.5, 5, 31)) * smoothstep(150.0, 330.0, side);
        for (int y = 120; y < kHorizon; ++y) {
            const double py = y + 0.5;
            const double inFar = clamp01(py - far + 0.5);
            if (inFar > 0.0) {
                const Colour rock = mix(Colour{40, 12, 60}, Colour{18, 6, 34}, (py - far) / 60.0);
                c.blend(x, y, rock, inFar);
                c.add(x, y, Colour{255, 70, 190} * (0.55 * inFar * std::exp(-(py - far) / 1.8)));
            }
            const double inNear = clamp01(py - near + 0.5);
            if (inNear > 0.0) {
                c.blend(x, y, Colour{8, 2, 16}, inNear);
                c.add(x, y, Colour{120, 230, 255} * (0.45 * inNear * std::exp(-(py - near) / 1.5)));
            }
        }
    }

    // The grid: a camera one unit above an endless floor.
    const double focal = 320.0;
    for (int y = truncToInt(kHorizon); y < 480; ++y) {
        const double dy = y + 0.5 - kHorizon;
        const double depth = focal / dy;
        const double depthPerPixel = focal / (dy * dy);
        for (int x = 0; x < 640; ++x) {
            const double wx = (x + 0.5 - 320.0) * depth / focal * 1.0;
            const double fz = std::fabs(std::fmod(depth + 0.35, 1.0) - 0.5);
            const double fx = std::fabs(std::fmod(std::fabs(wx) + 0.5, 1.0) - 0.5);
            const double distZ = (0.5 - fz) / depthPerPixel;
            const double distX = (0.5 - fx) / (depth / focal);
            const double line = std::max(clamp01(1.1 - distZ), clamp01(1.1 - distX));
            const double halo = std::exp(-std::min(distZ, distX) / 2.5) * 0.35;
            const double fade = std::exp(-depth / 14.0) * smoothstep(0.0, 24.0, dy);
            c.add(x, y, Colour{255, 40, 210} * ((line + halo) * fade));
        }
    }
    for (int y = 290; y < 312; ++y) {
        for (int x = 0; x < 640; ++x) {
            const double d = std::fabs(y + 0.5 - kHorizon);
            c.add(x, y,
                  Colour{255, 120, 220} * (clamp01(1.2 - d) * 0.8 + 0.25 * std::exp(-d / 3.0)));
        }
    }
    return c;
}

// A banded gas giant with rings and a moon in a dark red nebula: its scene
// ORs blue noise and bright wave bands in, so the picture lives in red and
// green, with plenty of dark for the noise.
Canvas planetPicture(const Fonts&) {
    Canvas c(640, 480);
    c.fill([](int x, int y) {
        const double n = fbm(x / 150.0, y / 150.0, 6, 41);
        const double m = fbm(x / 70.0 + 3.0, y / 70.0, 5, 51);
        const double cloud = std::pow(clamp01(n * 1.5 - 0.3), 2.2);
        const double core = std::pow(clamp01(n * m * 2.2 - 0.25), 3.0);
        return Colour{120, 14, 34} * (cloud * 0.9) + Colour{230, 90, 30} * (core * 0.9);
    });
    stars(c, 260, 9, 200);

    const double cx = 440.0;
    const double cy = 330.0;
    const double radius = 215.0;
    const double lx = -0.62;
    const double ly = -0.50;
    const double lz = 0.60;
    const double tilt = -0.32;
    const double ct = std::cos(tilt);
    const double st = std::sin(tilt);

    // Rings: an ellipse in the tilted plane; the far half is drawn before the
    // planet, the near half after it.
    auto ring = [&](bool nearHalf) {
        for (int y = 0; y < 480; ++y) {
            for (int x = 0; x < 640; ++x) {
                const double dx = x + 0.5 - cx;
                const double dy = y + 0.5 - cy;
                const double u = dx * ct + dy * st;
                const double v = -dx * st + dy * ct;
                if ((v > 0.0) != nearHalf) {
                    continue;
                }
                const double r = std::hypot(u, v / 0.2) / radius;
                if (r < 1.25 || r > 2.15) {
                    continue;
                }
                double density = 0.55 + 0.25 * std::sin(r * 70.0) + 0.2 * std::sin(r * 23.0 + 1.0);
                density *= smoothstep(1.25, 1.32, r) * smoothstep(2.15, 2.05, r);
                density *= 1.0 - 0.85 * smoothstep(0.035, 0.0, std::fabs(r - 1.74));
                const Colour colour = mix(Colour{200, 150, 110}, Colour{250, 215, 160}, (r - 1.25));
                c.blend(x, y, colour, clamp01(density) * 0.85);
            }
        }
    };
    ring(false);

    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const double nx = (x + 0.5 - cx) / radius;
            const double ny = (y + 0.5 - cy) / radius;
            const double d2 = nx * nx + ny * ny;
            const double d = std::sqrt(d2);
            const double cover = coverage((d - 1.0) * radius);
            if (cover <= 0.0) {
                // A thin lit haze around the limb.
                const double side = clamp01((nx * lx + ny * ly) / d * 1.2 + 0.2);
                c.add(x, y,
                      Colour{255, 110, 50} * (0.55 * side * std::exp(-(d - 1.0) * radius / 5.0)));
                continue;
            }
            const double nz = std::sqrt(std::max(0.0, 1.0 - d2));
            const double lat = ny * ct - nx * st;
            const double lon = nx * ct + ny * st;
            const double swirl = fbm(lon * 3.0 + 10.0, lat * 14.0, 5, 61);
            const double band = 0.5 + 0.5 * std::sin(lat * 17.0 + swirl * 5.0);
            const double fine = fbm(lon * 6.0, lat * 40.0 + swirl * 3.0, 4, 71);
            Colour surface = mix(Colour{110, 34, 20}, Colour{236, 132, 52}, band);
            surface = mix(surface, Colour{252, 206, 140}, std::pow(fine, 3.0) * 1.4);
            // A storm in the southern bands.
            const double storm = std::hypot((lon - 0.18) / 0.16, (lat - 0.42) / 0.07);
            surface = mix(surface, Colour{255, 90, 40}, smoothstep(1.0, 0.6, storm) * 0.9);
            const double light = std::max(0.0, nx * lx + ny * ly + nz * lz);
            const double rim = std::pow(1.0 - nz, 3.0) * smoothstep(-0.1, 0.5, light);
            Colour lit =
                surface * (0.02 + 0.8 * std::pow(light, 0.85)) + Colour{255, 120, 60} * (rim * 0.7);
            c.blend(x, y, lit, cover);
        }
    }
    ring(true);

    // A small cratered moon, lit from the same side.
    const double mx = 118.0;
    const double my = 112.0;
    const double mr = 40.0;
    for (int y = 60; y < 170; ++y) {
        for (int x = 60; x < 180; ++x) {
            const double nx = (x + 0.5 - mx) / mr;
            const double ny = (y + 0.5 - my) / mr;
            const double d2 = nx * nx + ny * ny;
            const double cover = coverage((std::sqrt(d2) - 1.0) * mr);
            if (cover <= 0.0) {
                continue;
            }
            const double nz = std::sqrt(std::max(0.0, 1.0 - d2));
            const double light = std::max(0.0, nx * lx + ny * ly + nz * lz);
            const double craters = fbm(nx * 4.0 + 20.0, ny * 4.0, 5, 81);
            const Colour rock = mix(Colour{120, 90, 84}, Colour{210, 176, 160}, craters);
            c.blend(x, y, rock * (0.03 + std::pow(light, 0.9)), cover);
        }
    }
    return c;
}

// A dim tunnel of teal and violet tiles around a ring of light. Its scene XORs
// it on and off every frame, so it stays dark: no channel above 0x70 keeps the
// flicker from being harsh.
Canvas tunnelPicture(const Fonts&) {
    const double cx = 320.0;
    const double cy = 205.0;
    Canvas c(640, 480);
    c.fill([&](int x, int y) {
        const double dx = x + 0.5 - cx;
        const double dy = y + 0.5 - cy;
        const double r = std::hypot(dx, dy);
        const double angle = std::atan2(dy, dx);
        const double depth = 2600.0 / (r + 12.0);
        const double turn = angle / kPi * 12.0 + depth * 0.08;
        const double du = std::fabs(std::fmod(depth / 6.0 + 1000.0, 1.0) - 0.5);
        const double dv = std::fabs(std::fmod(turn + 1000.0, 1.0) - 0.5);
        const bool checker =
            (truncToInt(std::floor(depth / 6.0)) + truncToInt(std::floor(turn))) % 2 == 0;
        Colour tile = checker ? Colour{16, 74, 86} : Colour{62, 24, 86};
        // Seams between the tiles, about two pixels wide at any depth.
        const double seamU = clamp01(1.3 - (0.5 - du) * 6.0 * (r + 12.0) * (r + 12.0) / 2600.0);
        const double seamV = clamp01(1.3 - (0.5 - dv) * kPi * r / 12.0);
        tile = mix(tile, Colour{80, 112, 112}, std::max(seamU, seamV) * 0.7);
        const double fog = smoothstep(20.0, 170.0, r);
        return tile * fog;
    });
    // A ring of light where the tunnel vanishes.
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const double r = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
            const double ring = std::exp(-std::pow((r - 44.0) / 5.0, 2.0));
            c.add(x, y, Colour{70, 50, 100} * ring);
        }
    }
    // Clamp: the flicker amplitude is the picture itself.
    for (Colour& p : c.px) {
        p.r = std::min(p.r, 112.0);
        p.g = std::min(p.g, 112.0);
        p.b = std::min(p.b, 112.0);
    }
    return c;
}

// The scroller text: one line of bold type filling the strip's height,
// spread over its whole length.
Canvas greetingsStrip(const Fonts& f) {
    Canvas c(GreetingsStrip::width, GreetingsStrip::height);
    c.fill([](int, int y) {
        const double t = std::fabs(y - 24.0) / 24.0;
        return mix(Colour{28, 14, 52}, Colour{6, 8, 26}, t);
    });
    for (int x = 0; x < c.width; ++x) {
        c.at(x, 0) = Colour{70, 200, 255};
        c.at(x, 1) = Colour{20, 60, 90};
        c.at(x, 47) = Colour{90, 20, 70};
        c.at(x, 48) = Colour{255, 70, 200};
    }

    struct Item {
        const char* text;
        bool highlight;
    };
    const Item items[] = {
        {"QUELTRAVINE GREETS", true}, {"Moss Cartel", false},
        {"Tinfoil Orchard", false},   {"Null Lantern", false},
        {"Brassmoth", false},         {"Quiet Phosphor", false},
        {"Umbral Kite", false},       {"Oxbow Signal", false},
        {"Halcyon Dust", false},      {"Vellichor Unit", false},
        {"Copperwind", false},        {"and you, watching: thank you!", true},
    };
    constexpr int kSize = 44;
    constexpr int kBaseline = 37;
    constexpr double kMargin = 24.0;
    const double separatorWidth = textWidth(f.bold, kSize, "\u2022");
    double textTotal = 0.0;
    for (const Item& item : items) {
        textTotal += textWidth(f.bold, kSize, item.text);
    }
    const int gaps = static_cast<int>(std::size(items)) - 1;
    const double gap = (c.width - 2.0 * kMargin - textTotal) / gaps;
    if (gap < separatorWidth + 40.0) {
        std::fprintf(stderr, "make_pictures: greetings do not fit the strip\n");
        std::exit(1);
    }

    Mask plain(c.width, c.height);
    Mask bright(c.width, c.height);
    Mask separators(c.width, c.height);
    double x = kMargin;
    for (int i = 0; i <= gaps; ++i) {
        drawText(items[i].highlight ? bright : plain, f.bold, kSize, x, kBaseline, items[i].text);
        x += textWidth(f.bold, kSize, items[i].text);
        if (i < gaps) {
            drawText(separators, f.bold, kSize, x + (gap - separatorWidth) / 2.0, kBaseline,
                     "\u2022");
            x += gap;
        }
    }
    Mask all(c.width, c.height);
    for (size_t i = 0; i < all.a.size(); ++i) {
        all.a[i] = std::max({plain.a[i], bright.a[i], separators.a[i]});
    }
    paint(
        c, blurred(all, 2),
        [](int, int) {
            return Colour{0, 0, 8};
        },
        0.9, 2, 2);
    glow(c, blurred(all, 4), Colour{90, 60, 255}, 0.5);
    paint(c, plain, [](int, int y) {
        return mix(Colour{255, 255, 255}, Colour{130, 215, 255}, clamp01((y - 6) / 36.0));
    });
    paint(c, bright, [](int, int y) {
        return mix(Colour{255, 226, 110}, Colour{255, 90, 170}, clamp01((y - 6) / 36.0));
    });
    paint(c, separators, [](int, int) { return Colour{255, 80, 200}; });
    return c;
}

// ---- Icon ---------------------------------------------------------------

// The icon is drawn from distances, 4x4 samples a pixel, so that every size
// is drawn for itself rather than scaled: a rounded night-blue tile, a planet
// lit from the upper left, and the white wave of the noise scene across it.
// Coordinates are in units of the tile, 0 to 1.
struct IconSample {
    Colour colour;
    double alpha;
};

IconSample iconSample(double u, double v) {
    // Rounded square with a corner radius of 0.2 and a margin of 1/32.
    const double m = 1.0 / 32.0;
    const double r = 0.2;
    const double qx = std::max(std::fabs(u - 0.5) - (0.5 - m - r), 0.0);
    const double qy = std::max(std::fabs(v - 0.5) - (0.5 - m - r), 0.0);
    const double tile = std::hypot(qx, qy) - r;
    if (tile > 0.0) {
        return {{}, 0.0};
    }
    Colour c = mix(Colour{14, 16, 44}, Colour{58, 18, 74}, v);
    // The planet.
    const double px = (u - 0.56) / 0.3;
    const double py = (v - 0.58) / 0.3;
    const double d2 = px * px + py * py;
    if (d2 < 1.0) {
        const double pz = std::sqrt(1.0 - d2);
        const double light = clamp01(-0.62 * px - 0.5 * py + 0.6 * pz);
        const Colour surface =
            mix(Colour{255, 90, 50}, Colour{255, 210, 90}, clamp01(0.5 - py * 0.6));
        c = surface * (0.15 + 0.85 * light);
    }
    // The wave, with a soft glow.
    const double wave = 0.5 + 0.16 * std::sin((u - 0.1) * 2.0 * kPi * 1.25);
    const double distance = std::fabs(v - wave);
    c = mix(c, Colour{255, 120, 220}, 0.6 * std::exp(-distance * distance / 0.0012));
    c = mix(c, Colour{255, 255, 255}, smoothstep(0.024, 0.014, distance));
    return {c, 1.0};
}

void writeIcon(int size, const std::string& path) {
    constexpr int kSamples = 4;
    std::vector<png_byte> pixels(static_cast<size_t>(size) * size * 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            Colour sum{};
            double alpha = 0.0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double u = (x + (sx + 0.5) / kSamples) / size;
                    const double v = (y + (sy + 0.5) / kSamples) / size;
                    const IconSample s = iconSample(u, v);
                    sum = sum + s.colour * s.alpha;
                    alpha += s.alpha;
                }
            }
            png_byte* out = &pixels[(static_cast<size_t>(y) * size + x) * 4];
            const double coverage = alpha / (kSamples * kSamples);
            const double unpremultiply = alpha > 0.0 ? 1.0 / alpha : 0.0;
            out[0] = toSample(sum.r * unpremultiply);
            out[1] = toSample(sum.g * unpremultiply);
            out[2] = toSample(sum.b * unpremultiply);
            out[3] = toSample(coverage * 255.0);
        }
    }
    FILE* out = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (out == nullptr || info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        std::fprintf(stderr, "make_pictures: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    png_init_io(png, out);
    png_set_IHDR(png, info, static_cast<png_uint_32>(size), static_cast<png_uint_32>(size), 8,
                 PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 9);
    png_write_info(png, info);
    for (int y = 0; y < size; ++y) {
        png_write_row(png, &pixels[static_cast<size_t>(y) * size * 4]);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (std::fclose(out) != 0) {
        std::fprintf(stderr, "make_pictures: cannot write %s\n", path.c_str());
        std::exit(1);
    }
    std::printf("wrote %s (%d x %d)\n", path.c_str(), size, size);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [FONT_DIR]\n", argv[0]);
        return 2;
    }
    const std::string outDir = argv[1];
    const std::string fontDir = argc == 3 ? argv[2] : "/usr/share/fonts/truetype/dejavu";
    if (FT_Init_FreeType(&freetype) != 0) {
        std::fprintf(stderr, "make_pictures: FreeType failed to start\n");
        return 1;
    }
    const Fonts fonts{openFont(fontDir, "DejaVuSans.ttf"), openFont(fontDir, "DejaVuSans-Bold.ttf"),
                      openFont(fontDir, "DejaVuSansCondensed-Bold.ttf")};
    writeJpeg(warningPicture(fonts), outDir + "/warning.jpg");
    writeJpeg(creditsPicture(fonts), outDir + "/credits.jpg");
    writeJpeg(horizonPicture(fonts), outDir + "/part1.jpg");
    writeJpeg(planetPicture(fonts), outDir + "/part2.jpg");
    writeJpeg(tunnelPicture(fonts), outDir + "/part3.jpg");
    writeJpeg(greetingsStrip(fonts), outDir + "/greets.jpg");
    std::filesystem::create_directories(outDir + "/icons");
    for (int size : {16, 24, 32, 48, 64, 128, 192, 256, 512}) {
        writeIcon(size, outDir + "/icons/queltravine-" + std::to_string(size) + ".png");
    }
    return 0;
}
