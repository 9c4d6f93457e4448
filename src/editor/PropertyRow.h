// The rows of the editor's property pane, top to bottom. The numbers are the
// rows' indexes in the pane's grids and in the catalogue list's calls.
#pragma once

namespace tarnvik {

enum PropertyRow : int {
    TitleRow = 0,
    DatabaseRow = 1,
    TableRow = 2,
    InputFieldRow = 3,
    InputCharsetRow = 4,
    OutputFieldRow = 5,
    OutputCharsetRow = 6,
};
constexpr int PropertyRows = 7;

// Each row's caption and the help the description area shows for it (UTF-8).
struct PropertyRowText
{
    const char *caption, *help;
};
inline constexpr PropertyRowText propertyRowText[PropertyRows] = {
    {"Popisek v nabídce", "Text, který se bude zobrazovat v menu."},
    {"Zdrojová databáze", "Jméno a umístění databáze, z níž se budou načítat data."},
    {"Název tabulky", "Název tabulky v databázi."},
    {"Vstupní hodnoty", "Pole v dané tabulce, které bude tzv. vstupní (bude na něj aplikována výběrová maska)."},
    {"Vstupní kódování", "Znaková sada, ve které se bude zobrazovat vstupní pole."},
    {"Výstupní hodnoty", "Pole, které je přiřazeno vstupní hodnotě."},
    {"Výstupní kódování", "Znaková sada, ve které se bude zobrazovat výstupní pole."},
};

} // namespace tarnvik
