// The two dialog templates read back out of the built DLL, field by field.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "cp932_text.h"
#include "support/text.h"

namespace {

constexpr WORD kButton = 0x80;
constexpr WORD kStatic = 0x82;
constexpr WORD kListBox = 0x83;

struct Control {
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    int id;
    WORD classOrdinal;
    std::string text; // code page 932
};

struct Template {
    bool extended;
    DWORD exStyle;
    DWORD style;
    short x, y, cx, cy;
    bool hasMenu, hasClass;
    std::string title;
    WORD pointSize, weight;
    BYTE italic, charset;
    std::string font;
    std::vector<Control> controls;
};

// Reads a template resource in the layout the dialog manager reads.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}

    Template Read()
    {
        Template t{};
        t.extended = Word(p_) == 1 && Word(p_ + 2) == 0xFFFF;
        if (t.extended) {
            p_ += 4 + 4; // version, signature, help ID
            t.exStyle = Dword();
            t.style = Dword();
        } else {
            t.style = Dword();
            t.exStyle = Dword();
        }
        WORD count = Word();
        t.x = Short();
        t.y = Short();
        t.cx = Short();
        t.cy = Short();
        t.hasMenu = SkipSzOrOrd();
        t.hasClass = SkipSzOrOrd();
        t.title = String();
        if (t.style & DS_SETFONT) {
            t.pointSize = Word();
            if (t.extended) {
                t.weight = Word();
                t.italic = *p_++;
                t.charset = *p_++;
            }
            t.font = String();
        }
        for (WORD i = 0; i < count; ++i)
            t.controls.push_back(ReadControl(t.extended));
        return t;
    }

private:
    Control ReadControl(bool extended)
    {
        Align();
        Control c{};
        if (extended) {
            p_ += 4; // help ID
            c.exStyle = Dword();
            c.style = Dword();
        } else {
            c.style = Dword();
            c.exStyle = Dword();
        }
        c.x = Short();
        c.y = Short();
        c.cx = Short();
        c.cy = Short();
        c.id = extended ? static_cast<int>(Dword()) : static_cast<short>(Word());
        EXPECT_EQ(0xFFFF, Word(p_)) << "control class as ordinal";
        p_ += 2;
        c.classOrdinal = Word();
        if (Word(p_) == 0xFFFF) {
            p_ += 4; // an ordinal as text: none of ours
        } else {
            c.text = String();
        }
        WORD extra = Word();
        p_ += extra;
        return c;
    }

    static WORD Word(const BYTE* at)
    {
        WORD w;
        memcpy(&w, at, 2);
        return w;
    }
    WORD Word()
    {
        WORD w = Word(p_);
        p_ += 2;
        return w;
    }
    short Short() { return static_cast<short>(Word()); }
    DWORD Dword()
    {
        DWORD d;
        memcpy(&d, p_, 4);
        p_ += 4;
        return d;
    }
    void Align() { p_ = reinterpret_cast<const BYTE*>((reinterpret_cast<UINT_PTR>(p_) + 3) & ~UINT_PTR(3)); }

    bool SkipSzOrOrd()
    {
        WORD first = Word(p_);
        if (first == 0) {
            p_ += 2;
            return false;
        }
        if (first == 0xFFFF) {
            p_ += 4;
            return true;
        }
        String();
        return true;
    }

    std::string String()
    {
        std::wstring wide;
        for (WORD ch; (ch = Word()) != 0;)
            wide.push_back(static_cast<wchar_t>(ch));
        return Cp932FromWide(wide);
    }

    const BYTE* p_;
};

Template LoadTemplate(int id)
{
    HMODULE module = LoadLibraryExA(PluginDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EXPECT_NE(nullptr, module);
    HRSRC resource = FindResourceExA(module, reinterpret_cast<LPCSTR>(RT_DIALOG), MAKEINTRESOURCEA(id),
                                     MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    EXPECT_NE(nullptr, resource) << "template " << id << " tagged Japanese";
    Template t{};
    if (resource != nullptr)
        t = TemplateReader(static_cast<const BYTE*>(LockResource(LoadResource(module, resource)))).Read();
    FreeLibrary(module);
    return t;
}

void ExpectControl(const Control& c, int id, WORD classOrdinal, const char* utf8Text, short x, short y, short cx,
                   short cy, DWORD style, DWORD exStyle)
{
    SCOPED_TRACE("control " + std::to_string(id));
    EXPECT_EQ(id, c.id);
    EXPECT_EQ(classOrdinal, c.classOrdinal);
    EXPECT_EQ(Cp932(utf8Text), c.text);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
    EXPECT_EQ(cx, c.cx);
    EXPECT_EQ(cy, c.cy);
    EXPECT_EQ(style, c.style);
    EXPECT_EQ(exStyle, c.exStyle);
}

} // namespace

TEST(DialogTemplates, AttachmentListIsTheExtendedTemplate101)
{
    Template t = LoadTemplate(101);
    ASSERT_TRUE(t.extended);
    EXPECT_EQ(Cp932(u8"添付ファイル 一覧"), t.title);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(251, t.cx);
    EXPECT_EQ(185, t.cy);
    EXPECT_EQ(0x80CA00C0u, t.style);
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_FALSE(t.hasMenu);
    EXPECT_FALSE(t.hasClass);
    EXPECT_EQ(Cp932(u8"ＭＳ ゴシック"), t.font);
    EXPECT_EQ(9, t.pointSize);
    EXPECT_EQ(0, t.weight);
    EXPECT_EQ(0, t.italic);
    EXPECT_EQ(1, t.charset);

    ASSERT_EQ(5u, t.controls.size());
    ExpectControl(t.controls[0], 1, kButton, "OK", 134, 163, 55, 18, 0x50010001, 0x200);
    ExpectControl(t.controls[1], 2, kButton, u8"ｷｬﾝｾﾙ", 188, 163, 56, 18, 0x50010001, 0x200);
    ExpectControl(t.controls[2], 1000, kListBox, "", 7, 7, 237, 154, 0x50B10903, 0);
    ExpectControl(t.controls[3], -1, kStatic, u8"添付ファイル数:", 18, 167, 61, 9, 0x50020000, 0);
    ExpectControl(t.controls[4], 1004, kStatic, "0", 81, 167, 47, 8, 0x50020200, 0);
}

TEST(DialogTemplates, SetupIsThePlainTemplate102)
{
    Template t = LoadTemplate(102);
    ASSERT_FALSE(t.extended);
    EXPECT_EQ("TlClipsum", t.title);
    EXPECT_EQ(0, t.x);
    EXPECT_EQ(0, t.y);
    EXPECT_EQ(187, t.cx);
    EXPECT_EQ(95, t.cy);
    EXPECT_EQ(0x80C800C0u, t.style);
    EXPECT_EQ(0u, t.exStyle);
    EXPECT_FALSE(t.hasMenu);
    EXPECT_FALSE(t.hasClass);
    EXPECT_EQ(Cp932(u8"ＭＳ ゴシック"), t.font);
    EXPECT_EQ(9, t.pointSize);

    ASSERT_EQ(6u, t.controls.size());
    ExpectControl(t.controls[0], 1, kButton, "OK", 131, 6, 50, 14, 0x50010001, 0);
    ExpectControl(t.controls[1], 2, kButton, u8"ｷｬﾝｾﾙ", 131, 24, 50, 14, 0x50010000, 0);
    ExpectControl(t.controls[2], 1005, kButton, u8"添付ファイルを削除する際にバックアップをゴミ箱に作成", 7, 57, 166,
                  23, 0x50002003, 0);
    ExpectControl(t.controls[3], -1, kStatic, u8"添付ファイル一括削除プラグイン\n             Ver.1.24", 7, 6, 121, 19,
                  0x50021000, 0);
    ExpectControl(t.controls[4], 1008, kButton, u8"削除時の確認なし", 7, 35, 80, 10, 0x50010003, 0);
    ExpectControl(t.controls[5], 1009, kButton, u8"HTMLメールの場合は、削除しない", 7, 49, 136, 10, 0x50010003, 0);
}
