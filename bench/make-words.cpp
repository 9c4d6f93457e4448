// Writes a word list as TSV for benchmarks: N rows of an input word built from
// Czech syllables, or Russian ones in Cyrillic, and an output phrase in Czech,
// deterministic for a seed.
// Usage: make-words ROWS [SEED] [czech|cyrillic] > words.tsv
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ROWS [SEED]\n", argv[0]);
        return 2;
    }
    const long rows = std::atol(argv[1]);
    std::mt19937 rng(argc > 2 ? unsigned(std::atol(argv[2])) : 1u);
    const bool cyrillic = argc > 3 && std::string(argv[3]) == "cyrillic";
    static const char *const onsets[] = {"", "b", "c", "č", "d", "ď", "f", "g", "h", "ch", "j", "k", "l", "m",
                                         "n", "ň", "p", "r", "ř", "s", "š", "t", "ť", "v", "z", "ž", "st", "pr",
                                         "kr", "zl", "sk", "tř", "Č", "P", "S"};
    static const char *const vowels[] = {"a", "á", "e", "é", "ě", "i", "í", "o", "ó", "u", "ú", "ů", "y", "ý"};
    static const char *const codas[] = {"", "", "", "n", "k", "t", "s", "l", "m", "r", "ch", "j"};
    static const char *const ruOnsets[] = {"", "б", "в", "г", "д", "ж", "з", "к", "л", "м", "н", "п", "р", "с",
                                           "т", "ф", "х", "ц", "ч", "ш", "щ", "ст", "пр", "кр", "зл", "ск", "тр",
                                           "Д", "М", "С", "Ч"};
    static const char *const ruVowels[] = {"а", "е", "ё", "и", "о", "у", "ы", "э", "ю", "я"};
    static const char *const ruCodas[] = {"", "", "", "н", "к", "т", "с", "л", "м", "р", "й", "ь"};
    auto pick = [&](auto &arr) { return arr[rng() % (sizeof arr / sizeof arr[0])]; };
    auto word = [&](int syllables, bool inCyrillic) {
        std::string w;
        for (int s = 0; s < syllables; ++s) {
            w += inCyrillic ? pick(ruOnsets) : pick(onsets);
            w += inCyrillic ? pick(ruVowels) : pick(vowels);
            w += inCyrillic ? pick(ruCodas) : pick(codas);
        }
        return w;
    };
    std::string line;
    std::fputs("slovo\tvyznam\n", stdout);
    for (long i = 0; i < rows; ++i) {
        line = word(1 + int(rng() % 4), cyrillic);
        line += '\t';
        if (rng() % 50 == 0) {
            line += "\\N";
        } else {
            const int words = 1 + int(rng() % 4);
            for (int k = 0; k < words; ++k) {
                if (k)
                    line += ' ';
                line += word(1 + int(rng() % 3), false);
            }
        }
        line += '\n';
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
