#!/usr/bin/env python3
"""Writes the bundled index definition files data/Dax.txt, MDax.txt, SDax.txt and TecDax.txt.

Input: one CSV per index (name,wkn,isin,shares,price_eur,source) with the constituents compiled from the index
operator's public lists. Share counts are not public there, so the weighting factors are samples: a factor per
component derived from its ISIN, scaled so that the weights spread like an index's, and a whole-number divisor
chosen so that the index starts at a plausible level. Prices missing in a list are replaced by a sample price.

Usage: tools/make-index-files.py CSV_FOLDER OUTPUT_FOLDER
"""
import csv
import hashlib
import sys
from pathlib import Path

INDICES = {  # file name: (csv name, target level)
    "Dax": ("dax.csv", 23409.37),
    "MDax": ("mdax.csv", 28875.10),
    "SDax": ("sdax.csv", 16875.75),
    "TecDax": ("tecdax.csv", 3565.41),
}


def sample(isin: str, low: float, high: float, salt: str) -> float:
    digest = hashlib.sha256((salt + isin).encode()).digest()
    return low + (high - low) * int.from_bytes(digest[:4], "big") / 2**32


def number_text(value: float) -> str:
    text = f"{value:.15g}"
    return text.replace(".", ",")


def main() -> None:
    source, target = Path(sys.argv[1]), Path(sys.argv[2])
    for index, (csv_name, level) in INDICES.items():
        with open(source / csv_name, newline="", encoding="utf-8") as f:
            rows = list(csv.DictReader(f))
        components = []
        for row in rows:
            price = float(row["price_eur"]) if row["price_eur"] else round(sample(row["isin"], 8, 180, "price"), 2)
            weight = sample(row["isin"], 0.3, 4.0, "weight") ** 2  # a few heavy, many light components
            factor = max(1, round(weight * 10000 / price))
            components.append((row["name"], row["wkn"], price, factor))
        total = sum(price * factor for _, _, price, factor in components)
        divisor = round(total * 1000 / level)
        lines = [str(divisor), "0"]
        for name, wkn, price, factor in components:
            share = price * factor / total * 100
            lines += [name, wkn, number_text(price), str(factor), number_text(round(share, 2)), "0", "0"]
        data = "".join(line + "\r\n" for line in lines).encode("cp1252")
        (target / f"{index}.txt").write_bytes(data)


if __name__ == "__main__":
    main()
