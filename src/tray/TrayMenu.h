#pragma once

#include <array>

namespace oru {

/// The tray menu's entries in their order; both shells build theirs from
/// this list and hand a chosen entry to runTrayMenuEntry().
enum class TrayMenuEntry { Kalibre, TahtaEkrani, Hakkinda, Separator, Cikis };

struct TrayMenuItem {
    TrayMenuEntry entry;
    const char* caption;  ///< UTF-8; empty for the separator
    const char* name;     ///< the item's name in its window ("Kalibre1"), for tests and tools
};

inline constexpr std::array<TrayMenuItem, 5> kTrayMenu{{
    {TrayMenuEntry::Kalibre, "Kalibre", "Kalibre1"},
    {TrayMenuEntry::TahtaEkrani, "Tahta ekranı", "TahtaEkrani1"},  // the board's screen: a submenu
    {TrayMenuEntry::Hakkinda, "Hakkında", "Hakknda1"},
    {TrayMenuEntry::Separator, "", "N1"},
    {TrayMenuEntry::Cikis, "Çıkış", "k1"},
}};

} // namespace oru
