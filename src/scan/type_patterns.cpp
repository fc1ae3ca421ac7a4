// SPDX-License-Identifier: MIT
// The search's options and the passes they make: which types are ticked,
// whether a search may start, and which passes a file name belongs to.
#include "scan/type_patterns.h"

#include "scan/name_pattern.h"

#include <utility>

namespace snapsift {

namespace {

// Whether the name's ending after its last dot is one of `extensions`,
// letters compared without case.
bool EndsWithOneOf(std::string_view name, std::span<const std::string_view> extensions)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view ending = name.substr(dot + 1);
    for (const std::string_view extension : extensions) {
        if (extension.size() == ending.size() && MatchesNamePattern(ending, extension))
            return true;
    }
    return false;
}

// A typed extension's pattern. An extension of stars alone matches every
// file, also one without a dot, as "*.*" does where the search comes from.
std::string ExtensionPattern(const std::string& extension)
{
    return extension.find_first_not_of('*') == std::string::npos ? std::string("*") : "*." + extension;
}

}  // namespace

bool AnyTypeTicked(const SearchOptions& options)
{
    return options.m_bJpeg || options.m_bBmp || options.m_bGif || options.m_bOther || !options.pictureKinds.Empty() ||
           !options.moreExtensions.empty();
}

SearchRefusal CheckSearchOptions(const SearchOptions& options)
{
    if (options.m_bOther && options.m_strOtherExt.empty())
        return SearchRefusal::NeedOtherExtension;
    for (const std::string& extension : options.moreExtensions) {
        if (extension.empty())
            return SearchRefusal::NeedOtherExtension;
    }
    if (!AnyTypeTicked(options))
        return SearchRefusal::NeedFileType;
    return SearchRefusal::None;
}

TypePatterns PassesOf(const SearchOptions& options)
{
    TypePatterns types;
    const std::pair<bool, std::string> four[] = {{options.m_bJpeg, "*.jpg"},
                                                 {options.m_bBmp, "*.bmp"},
                                                 {options.m_bGif, "*.gif"},
                                                 {options.m_bOther, ExtensionPattern(options.m_strOtherExt)}};
    for (const auto& [ticked, pattern] : four) {
        if (ticked)
            types.passes.push_back({pattern, {}});
    }
    for (const PictureKind kind : options.pictureKinds.InOrder())
        types.passes.push_back({{}, PictureTypeOf(kind).extensions});
    for (std::size_t i = 0; i < options.moreExtensions.size() && i < kMostMoreExtensions; ++i)
        types.passes.push_back({ExtensionPattern(options.moreExtensions[i]), {}});
    return types;
}

std::uint32_t MatchTypes(std::string_view name, const void* context)
{
    const auto& types = *static_cast<const TypePatterns*>(context);
    std::uint32_t mask = 0;
    for (std::size_t p = 0; p < types.passes.size(); ++p) {
        const Pass& pass = types.passes[p];
        if (pass.extensions.empty() ? MatchesNamePattern(name, pass.pattern) : EndsWithOneOf(name, pass.extensions))
            mask |= std::uint32_t{1} << p;
    }
    return mask;
}

}  // namespace snapsift
