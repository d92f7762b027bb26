// Writes reproducible synthetic sales records for the benchmark: a header line, then one
// TAB-separated record per line, about 100 bytes each. The same seed, count and workload
// always give the same bytes, on any machine, because the generator is its own (splitmix64)
// and uses no floating point for the values it prints.
//
// Usage: gendata RECORDS SEED [WORKLOAD] > file
//
// Workload 1 (the default) spreads records over about as many leaf combinations of the
// benchmark's first profile as there are records. Workload 2 is shaped like a business's
// sales: more countries of unequal size, more products of a longer tail, sales growing from
// year to year, so that its profile's cube (no store or segment axis) holds a few hundred
// thousand cells however many records feed it. Workload 3 sells to about a million
// customers, so that its profile's customer axis grows a category for most records and
// its cube holds about a cell per record. Workload 4 gives every record its own texts in
// twelve columns of 50 characters and its own id, for conditions whose keys never repeat.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

uint64_t state;  // generator state, seeded from the command line

uint64_t next() {
  uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// A number in [0, n).
unsigned pick(unsigned n) { return (unsigned)(next() % n); }

// A number in [0, n) where small numbers are more frequent (popular items).
unsigned pickSkewed(unsigned n) {
  uint64_t a = next() % n, b = next() % n;
  return (unsigned)(a * b / n);
}

const char* const regions[] = {"North", "South", "East", "West", "Central"};
const char* const countryStems[] = {"Aland",  "Borvia", "Cestra", "Dunmark",
                                    "Elvane", "Fersia", "Galmor", "Hestra"};
const char* const categories[] = {"Bikes", "Parts", "Clothing", "Tools",
                                  "Camping", "Books", "Garden", "Toys"};
const char* const subcategories[] = {"Road", "City", "Trail", "Kids", "Spare", "Sport"};
const char* const channels[] = {"Web", "Shop", "Partner", "Phone", "Fax"};
const char* const segments[] = {"Consumer", "Student", "Small firm", "Large firm",
                                "Public", "Club", "Reseller"};
const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Workload 2's shape: its counts of countries, categories, subcategories and items.
const unsigned countries2 = 40, categories2 = 8, subcategories2 = 6, items2 = 400;

// A year of 2019 to 2024 where year k of six has weight 2k + 1 (growing sales).
int pickGrowingYear() {
  unsigned u = pick(36), k = 0;
  while ((k + 1) * (k + 1) <= u) k++;
  return 2019 + (int)k;
}

// A measure: "NA" now and then (a non-numeric value), else cents printed as units.cents.
void putMoney(uint64_t cents) {
  if (pick(400) == 0)
    fputs("NA", stdout);
  else
    printf("%llu.%02llu", (unsigned long long)(cents / 100), (unsigned long long)(cents % 100));
}

// Workload 3: a date, a customer of a million, one of 30 articles, three measures.
void customerSales(long records) {
  fputs("orderdate\tcustomer\tarticle\tunits\trevenue\tcost\n", stdout);
  for (long r = 0; r < records; r++) {
    int year = 2019 + (int)pick(6), month = 1 + (int)pick(12);
    int day = 1 + (int)pick(monthDays[month - 1]);
    unsigned customer = pick(1000000), product = pickSkewed(30);
    unsigned units = 1 + pickSkewed(40);
    uint64_t price = 199 + pick(20000);
    printf("%04d-%02d-%02d\tC%07u\t%s-%02u\t%u\t", year, month, day, customer,
           categories[product % 8], product, units);
    putMoney(units * price);
    putchar('\t');
    putMoney(units * price * (55 + pick(30)) / 100);
    putchar('\n');
  }
}

// Workload 4: an id, twelve texts of 50 letters, a measure; nearly every value is new.
void distinctTexts(long records) {
  fputs("id", stdout);
  for (int c = 1; c <= 12; c++) printf("\tt%d", c);
  fputs("\tamount\n", stdout);
  char text[51];
  text[50] = '\0';
  for (long r = 0; r < records; r++) {
    printf("I%09u", pick(1000000000));
    for (int c = 0; c < 12; c++) {
      for (int i = 0; i < 50; i++) text[i] = (char)('a' + pick(26));
      printf("\t%s", text);
    }
    printf("\t%u\n", 1 + pick(1000));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    fprintf(stderr, "usage: gendata RECORDS SEED [WORKLOAD]\n");
    return 2;
  }
  long records = atol(argv[1]);
  state = strtoull(argv[2], nullptr, 10);
  int workload = argc == 4 ? atoi(argv[3]) : 1;
  if (workload < 1 || workload > 4) {
    fprintf(stderr, "gendata: WORKLOAD is 1, 2, 3 or 4\n");
    return 2;
  }
  if (workload == 4) {
    distinctTexts(records);
    return 0;
  }
  if (workload == 3) {
    customerSales(records);
    return 0;
  }
  fputs("orderdate\tregion\tcountry\tcity\tproduct\tstore\tchannel\tsegment\trep\tunits\trevenue"
        "\tcost\n",
        stdout);
  for (long r = 0; r < records; r++) {
    int year, month, day;
    unsigned country, city, category, sub, item;
    if (workload == 1) {
      year = 2019 + (int)pick(6), month = 1 + (int)pick(12);
      day = 1 + (int)pick(monthDays[month - 1]);
      country = pick(30), city = country * 20 + pickSkewed(20);
      category = pickSkewed(8), sub = pick(6), item = pickSkewed(200);
    } else {
      year = pickGrowingYear(), month = 1 + (int)pick(12);
      day = 1 + (int)pick(monthDays[month - 1]);
      // half the sales spread evenly, half in the few big markets
      country = pick(2) ? pick(countries2) : pickSkewed(countries2);
      city = country * 20 + pickSkewed(20);
      category = pickSkewed(categories2), sub = pickSkewed(subcategories2);
      item = pickSkewed(items2);
    }
    printf("%04d-%02d-%02d\t%s\t%s-%u\tTown%03u\t%s;%s;%s%c%04u\t", year, month, day,
           regions[country % 5], countryStems[country / 5], country, city,
           categories[category], subcategories[sub], categories[category], 'A' + (int)sub,
           item);
    if (pick(200) == 0)
      fputs("\t", stdout);  // no store recorded
    else
      printf("S%04u\t", pickSkewed(5000));
    printf("%s\t", channels[pick(5)]);
    if (pick(100) != 0) fputs(segments[pick(7)], stdout);  // sometimes no segment
    unsigned units = 1 + pickSkewed(40);
    uint64_t price = 199 + pick(20000);
    printf("\tR%05u\t", pick(10000));
    if (pick(400) == 0)
      fputs("NA", stdout);
    else
      printf("%u", units);
    putchar('\t');
    putMoney(units * price);
    putchar('\t');
    putMoney(units * price * (55 + pick(30)) / 100);
    putchar('\n');
  }
  return 0;
}
