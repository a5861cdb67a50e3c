#pragma once

namespace oru {

// The about box's texts, the same in every shell.
inline constexpr const char* kAboutCaption = "oruDriver";
inline constexpr const char* kAboutProductName = "Oru Akıllı Tahta Sürücüsü";
inline constexpr const char* kProductWebAddress = "https://oru.example.org/akilli-tahta";
inline constexpr const char* kAboutCloseCaption = "Kapat";
/// The box's outer size, frame included, px.
inline constexpr int kAboutWidthPx = 229;
inline constexpr int kAboutHeightPx = 144;

} // namespace oru
