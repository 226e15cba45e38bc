#include "tag.h"

#include <cstring>

namespace {
struct Pieces {
    ChannelText piece[3];
    int count;
};

constexpr Pieces k_tag{
    {ChannelCommon::TagPiece1, ChannelCommon::TagPiece2, ChannelCommon::TagPiece3}, 3};
constexpr Pieces k_description{
    {ChannelCommon::DescriptionPiece1, ChannelCommon::DescriptionPiece2, {0, 0}}, 2};
constexpr Pieces k_units{{ChannelCommon::UnitsPiece1, ChannelCommon::UnitsPiece2, {0, 0}}, 2};

std::string join(const ChannelRecord &rec, const Pieces &pieces) {
    std::string text;
    for (int i = 0; i < pieces.count; ++i) {
        std::string part = chrec_GetText(rec, pieces.piece[i]);
        text += part;
        if (part.size() < pieces.piece[i].width) break;
    }
    return text;
}

void split(ChannelRecord *rec, const Pieces &pieces, const char *text) {
    size_t length = text != nullptr ? std::strlen(text) : 0;
    size_t at = 0;
    for (int i = 0; i < pieces.count; ++i) {
        // chrec_SetText copies at most the width and empties a piece the text does not reach.
        chrec_SetText(rec, pieces.piece[i], at < length ? text + at : nullptr);
        at += pieces.piece[i].width;
    }
}
} // namespace

std::string tag_GetTag(const ChannelRecord &rec) {
    return join(rec, k_tag);
}

std::string tag_GetDescription(const ChannelRecord &rec) {
    return join(rec, k_description);
}

std::string tag_GetUnits(const ChannelRecord &rec) {
    return join(rec, k_units);
}

void tag_SetTag(ChannelRecord *rec, const char *text) {
    split(rec, k_tag, text);
}

void tag_SetDescription(ChannelRecord *rec, const char *text) {
    split(rec, k_description, text);
}

void tag_SetUnits(ChannelRecord *rec, const char *text) {
    split(rec, k_units, text);
}
