// The five character maps. Rows are searched in order; keep them as listed,
// since a later row may cover codes an earlier one already took.
#include "kcsv/char_maps.h"
#include <cstddef>

namespace {

constexpr CharMapEntry Exact(uint16_t code, uint16_t result) { return {CMK_EXACT, code, result, 0, nullptr}; }

// first..last onto resultFirst.. : the row keeps the 16-bit difference.
constexpr CharMapEntry Shift(uint16_t first, uint16_t last, uint16_t resultFirst)
{
    return {CMK_SHIFT, first, last, uint16_t(first - resultFirst), nullptr};
}

// The list must hold exactly one code per code of the range.
template <uint16_t First, uint16_t Last, size_t N>
constexpr CharMapEntry Indexed(const uint16_t (&list)[N])
{
    static_assert(First <= Last && N == size_t(Last - First + 1), "list does not fit the range");
    return {CMK_INDEXED, First, Last, 0, list};
}

constexpr CharMapEntry Constant(uint16_t first, uint16_t last, uint16_t result)
{
    return {CMK_CONSTANT, first, last, result, nullptr};
}

constexpr CharMapEntry End() { return {CMK_END, 0, 0, 0, nullptr}; }

// ---- PC -> handheld -------------------------------------------------------

// ㍉㌔㌢㍍㌘㌧㌃㌶㍑㍗㌍㌦㌣㌫㍊㌻㎜㎝㎞㎎㎏㏄㎡
const uint16_t kPcUnits[] = {0xECF7, 0x8140, 0xECF8, 0xECF6, 0xECFA, 0x8140, 0x8140, 0x8140,
                             0x8140, 0x8140, 0x8140, 0x8140, 0x8140, 0xECFC, 0x8140, 0x8140,
                             0xEF46, 0xEF47, 0xEF49, 0xEF40, 0xEF42, 0xEF45, 0xEF4A};
// ℡㊤㊥㊦㊧㊨㈱㈲㈹
const uint16_t kPcSigns[] = {0x84EE, 0xED54, 0xED59, 0xED55, 0xED56, 0xED57, 0x9873, 0x9874, 0xED5B};

// ---- handheld 0xEB / 0xEC -> PC ---------------------------------------------

// ｧｱｨｲｩｳｪｴｫｵｶｶﾞｷｷﾞｸｸﾞｹｹﾞｺｺﾞｻｻﾞｼｼﾞｽｽﾞｾｾﾞｿｿﾞﾀﾀﾞﾁﾁﾞｯﾂﾂﾞﾃﾃﾞﾄﾄﾞ
const uint16_t kKanaA[] = {
    0xA7, 0xB1,   0xA8, 0xB2,   0xA9, 0xB3,   0xAA, 0xB4,   0xAB,   0xB5,   0xB6,   0xB6DE, 0xB7,  0xB7DE,
    0xB8, 0xB8DE, 0xB9, 0xB9DE, 0xBA, 0xBADE, 0xBB, 0xBBDE, 0xBC,   0xBCDE, 0xBD,   0xBDDE, 0xBE,  0xBEDE,
    0xBF, 0xBFDE, 0xC0, 0xC0DE, 0xC1, 0xC1DE, 0xAF, 0xC2,   0xC2DE, 0xC3,   0xC3DE, 0xC4,   0xC4DE};
// ﾊﾊﾞﾊﾟﾋﾋﾞﾋﾟﾌﾌﾞﾌﾟﾍﾍﾞﾍﾟﾎﾎﾞﾎﾟ
const uint16_t kKanaHa[] = {0xCA,   0xCADE, 0xCADF, 0xCB,   0xCBDE, 0xCBDF, 0xCC,  0xCCDE,
                            0xCCDF, 0xCD,   0xCDDE, 0xCDDF, 0xCE,   0xCEDE, 0xCEDF};
// ｬﾔｭﾕｮﾖ
const uint16_t kKanaYa[] = {0xAC, 0xD4, 0xAD, 0xD5, 0xAE, 0xD6};
// ヮﾜヰヱｦﾝヴヵヶｰ
const uint16_t kKanaWa[] = {0x838E, 0xDC, 0x8390, 0x8391, 0xA6, 0xDD, 0x8394, 0x8395, 0x8396, 0xB0};
// ㍍㍉㌢㌔㌘㌔㌫
const uint16_t kKanaUnits[] = {0x8762, 0x875F, 0x8761, 0x8760, 0x8763, 0x8760, 0x876C};
// ■■●○
const uint16_t kKanaMarks[] = {0x81A1, 0x81A1, 0x819C, 0x819B};

// ---- handheld 0xFC -> PC ----------------------------------------------------

const uint16_t kFcAmPm[] = {0x414D, 0x504D};                        // AM PM
const uint16_t kFcAscii[] = {0x5E, 0x60, 0x27, 0xDE, 0xDF, 0x5F};   // ^`'ﾞﾟ_
// × § !! → ← ◇ α β Γ π Σ σ μ τ Φ Θ Ω δ ∞ φ ∈ ∩ ≡ ± ≧ ≦
const uint16_t kFcSymbols[] = {0x817E, 0x8198, 0x2121, 0x81A8, 0x81A9, 0x819E, 0x83BF, 0x83C0, 0x83A1,
                               0x83CE, 0x83B0, 0x83D0, 0x83CA, 0x83D1, 0x83B3, 0x83A6, 0x83B6, 0x83C2,
                               0x8187, 0x83D3, 0x81B8, 0x81BF, 0x81DF, 0x817D, 0x8186, 0x8185};

// ---- handheld 0xFD -> PC ----------------------------------------------------

// ─┼├┤┬┴┌┘┐└大小品時分秒日月火水木金土生年台人名本\円ﾜ
const uint16_t kFdBoxes[] = {0x849F, 0x84A9, 0x84A5, 0x84A7, 0x84A6, 0x84A8, 0x84A1, 0x84A3,
                             0x84A2, 0x84A4, 0x91E5, 0x8FAC, 0x9569, 0x8E9E, 0x95AA, 0x9562,
                             0x93FA, 0x8C8E, 0x89CE, 0x9085, 0x96D8, 0x8BE0, 0x9379, 0x90B6,
                             0x944E, 0x91E4, 0x906C, 0x96BC, 0x967B, 0x5C,   0x897E, 0xDC};
// 明治正昭和第合計代内
const uint16_t kFdEras[] = {0x96BE, 0x8EA1, 0x90B3, 0x8FBA, 0x9861, 0x91E6, 0x8D87, 0x8C76, 0x91E3, 0x93E0};
const uint16_t kFdAmPm[] = {0x414D, 0x504D};

// ---- other handheld double-byte codes -> PC ------------------------------------

// 大小品時分秒日月火水木金土生年台人名本￥円明治正昭和第合計代内℡＿
const uint16_t kDbcsWords[] = {0x91E5, 0x8FAC, 0x9569, 0x8E9E, 0x95AA, 0x9562, 0x93FA, 0x8C8E, 0x89CE,
                               0x9085, 0x96D8, 0x8BE0, 0x9379, 0x90B6, 0x944E, 0x91E4, 0x906C, 0x96BC,
                               0x967B, 0x818F, 0x897E, 0x96BE, 0x8EA1, 0x90B3, 0x8FBA, 0x9861, 0x91E6,
                               0x8D87, 0x8C76, 0x91E3, 0x93E0, 0x8784, 0x8151};
// ㈱㈲社財学医宗
const uint16_t kDbcsCompany[] = {0x878A, 0x878B, 0x8ED0, 0x8DE0, 0x8A77, 0x88E3, 0x8F40};
// ㊤㊦㊧㊨大㊥小㈹注印
const uint16_t kDbcsCircled[] = {0x8785, 0x8787, 0x8788, 0x8789, 0x91E5,
                                 0x8786, 0x8FAC, 0x878C, 0x928D, 0x88F3};
// mg g kg ml l cc mm cm m km ㎡ (two blanks) us ms Hz
const uint16_t kDbcsUnits[] = {0x6D67, 0x67,   0x6B67, 0x6D6C, 0x6C,   0x6363, 0x6D6D, 0x636D,
                               0x6D,   0x6B6D, 0x8775, 0x2020, 0x7573, 0x6D73, 0x487A};

}   // namespace

const CharMapEntry PcExtMap[] = {
    Shift(0x8740, 0x8753, 0xED40),                                         // ① to ⑳
    Shift(0x8754, 0x875D, 0xED5E),                                         // Ⅰ to Ⅹ
    Indexed<0x875F, 0x8775>(kPcUnits), Constant(0x8780, 0x8783, 0x81A1),   // 〝 to ㏍
    Indexed<0x8784, 0x878C>(kPcSigns), End(),
};

const CharMapEntry HandheldKanaMap[] = {
    Shift(0xEBAE, 0xEBB7, 0x30),     // 0 to 9
    Shift(0xEBBF, 0xEBD8, 0x41),     // A to Z
    Shift(0xEBDF, 0xEBF8, 0x61),     // a to z
    Shift(0xEC40, 0xEC7E, 0x829F),   // ぁ to み
    Shift(0xEC80, 0xEC93, 0x82DE),   // む to ん
    Exact(0xEBD9, 0x81A6),           // ※
    Shift(0xEBDA, 0xEBDD, 0x8152),   // ヽ to ゞ
    Exact(0xEBF9, 0x81A7),           // 〒
    Shift(0xEBFA, 0xEBFC, 0x8156),   // 〃 to 々
    Indexed<0xEC9F, 0xECC7>(kKanaA),
    Shift(0xECC8, 0xECCC, 0xC5),   // ﾅ to ﾉ
    Indexed<0xECCD, 0xECDB>(kKanaHa),
    Shift(0xECDC, 0xECE0, 0xCF),   // ﾏ to ﾓ
    Indexed<0xECE1, 0xECE6>(kKanaYa),
    Shift(0xECE7, 0xECEB, 0xD7),   // ﾗ to ﾛ
    Indexed<0xECEC, 0xECF5>(kKanaWa),
    Indexed<0xECF6, 0xECFC>(kKanaUnits),
    Indexed<0xEB5B, 0xEB5E>(kKanaMarks),
    End(),
};

const CharMapEntry HandheldFcMap[] = {
    Exact(0xFC5C, 0x5C),             // backslash
    Shift(0xFCAE, 0xFCAF, 0x8173),   // 《 to 》
    Indexed<0xFCC0, 0xFCC1>(kFcAmPm),
    Exact(0xFCC3, 0x8784),   // ℡
    Indexed<0xFCCA, 0xFCCF>(kFcAscii),
    Indexed<0xFCDA, 0xFCF3>(kFcSymbols),
    Exact(0xFCF6, 0x8180),   // ÷
    Exact(0xFCFB, 0x81E3),   // √
    End(),
};

const CharMapEntry HandheldFdMap[] = {
    Exact(0xFD5C, 0x5C),   // backslash
    Indexed<0xFD80, 0xFD9F>(kFdBoxes),
    Indexed<0xFDE0, 0xFDE9>(kFdEras),
    Indexed<0xFDEB, 0xFDEC>(kFdAmPm),
    Exact(0xFDED, 0x81A7),   // 〒
    Exact(0xFDEE, 0x8784),   // ℡
    End(),
};

const CharMapEntry HandheldDbcsMap[] = {
    Indexed<0x84CF, 0x84EF>(kDbcsWords),
    Indexed<0x9873, 0x9879>(kDbcsCompany),
    Shift(0xED40, 0xED53, 0x8740),   // ① to ⑳
    Indexed<0xED54, 0xED5D>(kDbcsCircled),
    Shift(0xED5E, 0xED67, 0x8754),   // Ⅰ to Ⅹ
    Constant(0xED68, 0xED75, MISSING_CHAR),
    Indexed<0xEF40, 0xEF4E>(kDbcsUnits),
    Constant(0xEF4F, 0xEFF9, MISSING_CHAR),
    Constant(0x8740, 0x879E, MISSING_CHAR),
    Constant(0x879F, 0x87FC, MISSING_CHAR),
    Constant(0x8840, 0x889E, MISSING_CHAR),
    Constant(0xED9F, 0xEDFC, MISSING_CHAR),
    Constant(0xEE40, 0xEE9E, MISSING_CHAR),
    Constant(0xEE9F, 0xEEFC, MISSING_CHAR),
    Constant(0x8240, 0x8241, MISSING_CHAR),
    End(),
};

uint16_t LookupCharMap(uint16_t code, const CharMapEntry* map)
{
    if (!map)
        return 0;
    for (const CharMapEntry* row = map; row->kind != CMK_END; ++row) {
        if (row->kind == CMK_EXACT) {
            if (code == row->first)
                return row->second;
            continue;
        }
        if (code < row->first || code > row->second)
            continue;
        switch (row->kind) {
        case CMK_SHIFT: return uint16_t(code - row->value);
        case CMK_INDEXED: return row->list[code - row->first];
        case CMK_CONSTANT: return row->value;
        default: break;   // unknown kind: the row never matches
        }
    }
    return 0;
}
