#!/usr/bin/env python3
"""Deterministic practice databases for tests, benchmarks and the wizard demo.

Builds a main practice database and station databases derived from it, Firebird 3,
dialect 3, WIN1250, through isql-fb and the embedded engine (plain paths). The schema
comes from tests/fixtures/practice_schema.sql and practice_objects.sql; this script only
fills it.

    python3 tools/practice/generate.py --seed 1 --size small \
        --main /tmp/p/main.fdb --station /tmp/p/st1.fdb --station /tmp/p/st2.fdb

How the data comes about:
  1. The main database gets a practice of the chosen size: devices, departments,
     workplaces, users and rights, code lists, partners, patients with cases,
     documents with items of every kind, daily records with their details,
     laboratory, image documentation, sales receipts. Change marks (ST) are null.
  2. Each station starts as a copy of that main database (the file is copied), then
     adds rows under its own generator keys, changes existing rows, marks both in ST
     ('I' new, 'U' changed; some changed rows keep their values) and writes a journal
     row for each. Its keys continue from the generators it inherited, so they collide
     with the keys of the other stations and of the main database. Every station also
     creates the same few natural keys (a partner, a patient, a diagnosis ...) with
     different contents.
  3. After the stations were cut, the main database goes on as well: it adds rows under
     the same generator values the stations used.
  --station-version gives a station an older schema version (200624, 200625, 200628,
  200701) by running tests/fixtures/practice_version_<v>.sql on it before its changes.

Everything follows from --seed, --size and --today (the reference date; dates lie up to
600 days before it; default: the current date). The same arguments give the same
databases: compare them with --checksum.

Only the Python standard library is used.
"""

import argparse
import datetime
import hashlib
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_FIXTURES = os.path.normpath(os.path.join(HERE, '..', '..', 'tests', 'fixtures'))
USER = 'SYSDBA'
PASSWORD = 'masterkey'
VERSIONS = (200624, 200625, 200628, 200701, 200824)

# ---------------------------------------------------------------------------------------
# Schema


class Column:
    def __init__(self, name, kind, length=0):
        self.name = name
        self.kind = kind      # int, varchar, char, double, numeric, date, time, timestamp, text, binary
        self.length = length


class Table:
    def __init__(self, name):
        self.name = name
        self.columns = []
        self.pk = []
        self.generator = None

    def column(self, name):
        for c in self.columns:
            if c.name == name:
                return c
        return None

    def names(self):
        return [c.name for c in self.columns]


def parse_type(text):
    t = text.lower().rstrip(',').strip()
    m = re.match(r'(var)?char\((\d+)\)', t)
    if m:
        return ('varchar' if m.group(1) else 'char'), int(m.group(2))
    if t.startswith('integer') or t.startswith('smallint'):
        return 'int', 0
    if t.startswith('double precision'):
        return 'double', 0
    if t.startswith('numeric'):
        return 'numeric', 0
    if t.startswith('timestamp'):
        return 'timestamp', 0
    if t.startswith('date'):
        return 'date', 0
    if t.startswith('time'):
        return 'time', 0
    if t.startswith('blob sub_type text'):
        return 'text', 0
    if t.startswith('blob sub_type binary'):
        return 'binary', 0
    raise ValueError('unknown column type: ' + text)


def load_schema(fixtures):
    text = open(os.path.join(fixtures, 'practice_schema.sql'), encoding='utf-8').read()
    tables = {}
    for name, body in re.findall(r'^create table (\w+) \(\n(.*?)\n\);', text, re.S | re.M):
        t = Table(name)
        for line in body.split('\n'):
            line = line.strip()
            if not line:
                continue
            m = re.match(r'primary key \(([^)]*)\)', line)
            if m:
                t.pk = [p.strip() for p in m.group(1).split(',')]
                continue
            m = re.match(r'("?)(\w+)\1\s+(.*)$', line)
            kind, length = parse_type(m.group(3))
            t.columns.append(Column(m.group(2), kind, length))
        tables[name] = t
    generators = re.findall(r'^create generator (\w+);', text, re.M)
    special = {'UZIVATEL_NEW': 'GEN_UZIVATEL', 'SKUPINA_OBRAZOVE_DOKUMENTACE': 'GEN_SKUPINA_OBR_DOK'}
    for t in tables.values():
        if t.name.startswith('DOKLAD_POLOZKA_'):
            t.generator = 'GEN_DOKLAD_POLOZKA'
        elif t.name in special:
            t.generator = special[t.name]
        elif 'GEN_' + t.name in generators and len(t.pk) == 1:
            t.generator = 'GEN_' + t.name
    return tables, generators


def version_changes(fixtures, version):
    """Tables and columns that the downgrade script of a version drops."""
    if version == 200824:
        return set(), {}, set()
    text = open(os.path.join(fixtures, 'practice_version_%d.sql' % version), encoding='utf-8').read()
    dropped_tables = set(re.findall(r'^drop table (\w+);', text, re.M))
    dropped_columns = {}
    for table, body in re.findall(r'^alter table (\w+)\n(.*?);', text, re.S | re.M):
        dropped_columns[table] = set(re.findall(r'drop (\w+)', body))
    dropped_generators = set(re.findall(r'^drop generator (\w+);', text, re.M))
    return dropped_tables, dropped_columns, dropped_generators


# ---------------------------------------------------------------------------------------
# Values

FIRST_NAMES = ['Jiří', 'Jan', 'Petr', 'Josef', 'Pavel', 'Martin', 'Tomáš', 'Jaroslav', 'Miroslav',
               'Zdeněk', 'Václav', 'Michal', 'František', 'Lukáš', 'Marie', 'Jana', 'Eva', 'Hana',
               'Anna', 'Lenka', 'Kateřina', 'Věra', 'Lucie', 'Alena', 'Petra', 'Jaroslava', 'Růžena']
LAST_NAMES = ['Novák', 'Svoboda', 'Novotný', 'Dvořák', 'Černý', 'Procházka', 'Kučera', 'Veselý',
              'Horák', 'Němec', 'Pokorný', 'Marek', 'Pospíšil', 'Hájek', 'Jelínek', 'Král', 'Růžička',
              'Beneš', 'Fiala', 'Sedláček', 'Doležal', 'Zeman', 'Kolář', 'Navrátil', 'Čermák', 'Šťastný']
TOWNS = [('Praha', '11000'), ('Brno', '60200'), ('Ostrava', '70200'), ('Plzeň', '30100'),
         ('Liberec', '46001'), ('Olomouc', '77900'), ('České Budějovice', '37001'),
         ('Hradec Králové', '50002'), ('Ústí nad Labem', '40001'), ('Pardubice', '53002'),
         ('Zlín', '76001'), ('Havířov', '73601'), ('Kladno', '27201'), ('Jihlava', '58601'),
         ('Třebíč', '67401'), ('Písek', '39701'), ('Žďár nad Sázavou', '59101'), ('Kroměříž', '76701')]
STREETS = ['Husova', 'Masarykova', 'Nádražní', 'Palackého', 'Žižkova', 'Komenského', 'Smetanova',
           'Školní', 'Zahradní', 'Lesní', 'Krátká', 'Příčná', 'Dlouhá', 'Na Výsluní', 'U Řeky']
ANIMAL_NAMES = ['Rex', 'Alík', 'Bety', 'Čiko', 'Dášeňka', 'Ferda', 'Micka', 'Mourek', 'Žofka',
                'Ťapka', 'Brok', 'Lucky', 'Šmudla', 'Punťa', 'Fík', 'Líza', 'Chlupáč', 'Čertík',
                'Bára', 'Jůlie', 'Kuba', 'Rézi', 'Špagetka', 'Zrzek', 'Ňufík']
SPECIES = [('Pes', ['Německý ovčák', 'Jezevčík', 'Labrador', 'Kříženec', 'Český fousek']),
           ('Kočka', ['Evropská', 'Perská', 'Britská modrá']),
           ('Králík', ['Zakrslý beran', 'Český strakáč']),
           ('Skot', ['Holštýnský', 'Český strakatý']),
           ('Želva', ['Zelenavá', 'Vodní']),
           ('Morče', ['Angorské', 'Hladkosrsté'])]
WORDS = ['pacient', 'klidný', 'vyšetření', 'bez nálezu', 'doporučena', 'kontrola', 'za týden',
         'očkování', 'proti vzteklině', 'odčervení', 'teplota', 'zvýšená', 'chuť k jídlu', 'dobrá',
         'kulhání', 'přední', 'levá', 'končetina', 'otok', 'ústup', 'obtíží', 'léčba', 'antibiotika',
         'dieta', 'šetrná', 'žloutenka', 'vyloučena', 'srst', 'lesklá', 'uši', 'čisté', 'zuby',
         'zubní kámen', 'odstraněn', 'krevní obraz', 'v normě', 'ultrazvuk', 'břicha', 'rentgen',
         'hrudníku', 'majitel', 'poučen', 'přijde', 'zítra', 'ráno', 'večer', 'příští týden']
PRODUCTS = ['Vakcína Nobivac', 'Drontal Plus', 'Frontline Spot-on', 'Amoxiklav', 'Metacam',
            'Fyziologický roztok', 'Obvaz elastický', 'Stříkačka 5 ml', 'Rukavice vyšetřovací',
            'Krmivo dietní', 'Vitamíny pro psy', 'Šampon léčebný', 'Kapky ušní', 'Mast oční',
            'Jehla 0,8 mm', 'Náplast', 'Tablety proti klíšťatům', 'Injekce Ivomec', 'Sérum',
            'Vyšetření krve', 'Kastrace kocoura', 'Ošetření drápků', 'Čištění zubů']
DIAGNOSES = ['Otitis externa', 'Gastroenteritida', 'Dermatitida', 'Zlomenina', 'Konjunktivitida',
             'Cystitida', 'Parvoviróza', 'Artróza', 'Obezita', 'Alergie', 'Zánět dásní',
             'Průjem', 'Kašel psinkový', 'Svrab', 'Katarakta', 'Diabetes', 'Infekce ran']


def sql_literal(value, column=None):
    if value is None:
        return 'null'
    if isinstance(value, bool):
        return "'A'" if value else "'N'"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        return '%.6f' % value
    if isinstance(value, bytes):
        return "x'%s'" % value.hex().upper()
    if isinstance(value, datetime.datetime):
        return "'%s'" % value.strftime('%Y-%m-%d %H:%M:%S')
    if isinstance(value, datetime.date):
        return "'%s'" % value.strftime('%Y-%m-%d')
    if isinstance(value, datetime.time):
        return "'%02d:%02d:%02d.%04d'" % (value.hour, value.minute, value.second, value.microsecond // 100)
    return "'%s'" % str(value).replace("'", "''")


def cut(text, length):
    return text if length <= 0 or len(text) <= length else text[:length].rstrip()


# ---------------------------------------------------------------------------------------
# Sizes: rows of the main database per table (small, large). Tables not listed get none.

SIZES = {
    'ZARIZENI': (2, 3), 'ZARIZENI_BANKA': (2, 4), 'CENIK': (3, 6), 'ODDELENI': (4, 8),
    'PRACOVISTE': (8, 20), 'PRISTUPOVA_PRAVA': (3, 8), 'PRISTUP': (9, 40), 'UZIVATEL_NEW': (6, 40),
    'PRACUZIV': (8, 60), 'PRISTUP_ORG_JEDNOTKA': (6, 40), 'BANKA': (5, 30), 'DIAGNOZA': (10, 400),
    'FRAZE': (6, 200), 'HODNOCENI': (4, 20), 'MERNA_JEDNOTKA': (5, 20), 'PSC': (6, 300),
    'RECEPTAR': (8, 300), 'SKLAD': (2, 6), 'POHLAVI': (4, 6), 'TEXT': (5, 200),
    'TYP_USTAJENI': (3, 10), 'KATASTR': (3, 200), 'KATEGORIE_PACIENTA': (9, 40),
    'PARTNER': (20, 6000), 'PARTNER_KONTAKT': (20, 6000), 'PARTNER_BANKA': (8, 2000),
    'FARMA': (3, 300), 'PACIENT': (30, 9000), 'VYSETRENI_NA_VZTEKLINU': (6, 1500),
    'VYSETRENI_NOVOTVARU_MZ': (4, 600), 'VYSETRENI_HISTOLOGIE': (4, 600), 'REVERS': (5, 1200),
    'MEZINARODNI_OSVEDCENI': (4, 1000), 'PREMISTENI_ZVIRETE': (4, 400),
    'PREMISTENI_ZVIRETE_ZVI': (8, 1000), 'VARIANTA': (15, 1500), 'SABLONA_VYKONU': (3, 60),
    'SABLONA_VYKONU_POLOZKA': (9, 300), 'PRIPAD': (20, 6000), 'DOKLAD': (40, 9000),
    'PARTNER_ZALOHA': (6, 1200), 'PARTNER_ZALOHA_CERPANI': (4, 1000), 'DENNI_ZAZNAM': (60, 15000),
    'DOKLAD_POLOZKA_FA': (20, 6000), 'DOKLAD_POLOZKA_PD': (20, 6000), 'DOKLAD_POLOZKA_UM': (40, 12000),
    'DOKLAD_POLOZKA_SK': (20, 6000), 'DOKLAD_POLOZKA_BV': (5, 600), 'DOKLAD_POLOZKA_UZ': (5, 600),
    'DENNI_ZAZNAM_HODNOTA': (20, 6000), 'DENNI_ZAZNAM_RECEPT': (15, 4000),
    'DENNI_ZAZNAM_OFTALMO': (5, 1000), 'DENNI_ZAZNAM_ORTOPED': (5, 1000),
    'DENNI_ZAZNAM_STOMATO': (5, 1000), 'DENNI_ZAZNAM_MEKKE_TKANE': (5, 1000),
    'DENNI_ZAZNAM_PLAZI': (3, 500), 'DENNI_ZAZNAM_DROBNI_SAVCI': (3, 500), 'DZS_ZUB': (10, 2000),
    'KOPROLOGIE': (6, 1500), 'SOUBOR': (5, 600), 'VAKCINACE_ODCERVENI': (15, 5000),
    'VARIANTA_SKLAD': (15, 1500), 'VARIANTA_CENIK': (15, 1500), 'VARIANTA_PARTNER': (8, 800),
    'POHLEDAVKA': (6, 1500), 'LABVH': (6, 1500), 'LABVD': (18, 6000), 'CESTA': (6, 1000),
    'SKUPINA_OBRAZOVE_DOKUMENTACE': (3, 10), 'OBRAZOVA_DOKUMENTACE': (6, 800), 'ZADANKA': (6, 1500),
    'PRODEJKA': (8, 3000), 'ORD_CINNOST': (4, 20), 'CIL_CESTY': (4, 60), 'DODATEK': (3, 20),
    'FORMA_UHRADY': (3, 6), 'LABHODN': (4, 40), 'LAB_VAZBY': (4, 60), 'RTG_PROJEKCE': (4, 30),
    'RTG_OBLAST': (4, 30), 'VYROBCE': (4, 100), 'UMISTENI': (3, 30), 'OZNACENI_ZAZNAMU': (3, 10),
    'ZPRAVA': (6, 3000), 'RADA': (2, 6), 'RADA_POLOZKA': (2, 12), 'RADA_PORADOVE_CISLO': (2, 12),
    'FRONTA': (3, 100), 'OBJ_PACIENTA': (4, 500), 'ORD_DOBA': (5, 40), 'NASTAVENI': (5, 100),
    'TYP_ZADANKY': (3, 10), 'TEPLOTA_MISTO': (2, 6), 'TEPLOTA': (6, 2000), 'RADA_OJ': (2, 12),
}

# Order in which tables are filled: parents before children.
ORDER = [
    'ZARIZENI', 'ZARIZENI_BANKA', 'CENIK', 'ODDELENI', 'PRACOVISTE', 'PRISTUPOVA_PRAVA', 'PRISTUP',
    'UZIVATEL_NEW', 'PRACUZIV', 'PRISTUP_ORG_JEDNOTKA', 'BANKA', 'DIAGNOZA', 'FRAZE', 'HODNOCENI',
    'MERNA_JEDNOTKA', 'PSC', 'RECEPTAR', 'SKLAD', 'POHLAVI', 'TEXT', 'TYP_USTAJENI', 'KATASTR',
    'KATEGORIE_PACIENTA', 'PARTNER', 'PARTNER_KONTAKT', 'PARTNER_BANKA', 'FARMA', 'PACIENT',
    'VYSETRENI_NA_VZTEKLINU', 'VYSETRENI_NOVOTVARU_MZ', 'VYSETRENI_HISTOLOGIE', 'REVERS',
    'MEZINARODNI_OSVEDCENI', 'PREMISTENI_ZVIRETE', 'PREMISTENI_ZVIRETE_ZVI', 'VARIANTA',
    'SABLONA_VYKONU', 'SABLONA_VYKONU_POLOZKA', 'PRIPAD', 'DOKLAD', 'PARTNER_ZALOHA',
    'PARTNER_ZALOHA_CERPANI', 'DENNI_ZAZNAM', 'DOKLAD_POLOZKA_FA', 'DOKLAD_POLOZKA_PD',
    'DOKLAD_POLOZKA_UM', 'DOKLAD_POLOZKA_SK', 'DOKLAD_POLOZKA_BV', 'DOKLAD_POLOZKA_UZ',
    'DENNI_ZAZNAM_HODNOTA', 'DENNI_ZAZNAM_RECEPT', 'DENNI_ZAZNAM_OFTALMO', 'DENNI_ZAZNAM_ORTOPED',
    'DENNI_ZAZNAM_STOMATO', 'DENNI_ZAZNAM_MEKKE_TKANE', 'DENNI_ZAZNAM_PLAZI',
    'DENNI_ZAZNAM_DROBNI_SAVCI', 'DZS_ZUB', 'KOPROLOGIE', 'SOUBOR', 'VAKCINACE_ODCERVENI',
    'VARIANTA_SKLAD', 'VARIANTA_CENIK', 'VARIANTA_PARTNER', 'POHLEDAVKA', 'LABVH', 'LABVD', 'CESTA',
    'SKUPINA_OBRAZOVE_DOKUMENTACE', 'OBRAZOVA_DOKUMENTACE', 'ZADANKA', 'PRODEJKA', 'ORD_CINNOST',
    'CIL_CESTY', 'DODATEK', 'FORMA_UHRADY', 'LABHODN', 'LAB_VAZBY', 'RTG_PROJEKCE', 'RTG_OBLAST',
    'VYROBCE', 'UMISTENI', 'OZNACENI_ZAZNAMU', 'ZPRAVA', 'RADA', 'RADA_POLOZKA',
    'RADA_PORADOVE_CISLO', 'FRONTA', 'OBJ_PACIENTA', 'ORD_DOBA', 'NASTAVENI', 'TYP_ZADANKY',
    'TEPLOTA_MISTO', 'TEPLOTA', 'RADA_OJ',
]

# The station's own tables (copied back by finishing, never played): stations change them
# without change marks.
STATION_OWN = {'RADA', 'RADA_POLOZKA', 'RADA_PORADOVE_CISLO', 'FRONTA', 'OBJ_PACIENTA', 'ORD_DOBA',
               'NASTAVENI', 'TYP_ZADANKY', 'TEPLOTA', 'TEPLOTA_MISTO', 'RADA_OJ'}

# Tables in which every station creates the same natural key (with different contents).
SHARED_KEYS = {'PARTNER', 'PACIENT', 'DIAGNOZA', 'CENIK', 'VARIANTA', 'FRAZE', 'PSC',
               'UZIVATEL_NEW', 'PRISTUPOVA_PRAVA', 'DOKLAD', 'PRODEJKA'}

# Columns that carry natural keys or copies of a parent's values: updates leave them alone.
KEEP_COLUMNS = {
    'ID', 'ST', 'NAZEV', 'ZKRATKA', 'PARTNER', 'PACIENT', 'PRIPAD', 'DOKLAD', 'TYP_DOKLADU',
    'VARIANTA', 'SKLAD', 'CENIK', 'DATUM', 'CAS', 'ZALOZENI_ZAZNAMU', 'PORADOVE_CISLO',
    'IDENTIFIKACNI_CISLO', 'PARTNER_KONTAKT', 'PARTNER_BANKA', 'FARMA', 'BANKA', 'DIAGNOZA',
    'FRAZE', 'HODNOCENI', 'MERNA_JEDNOTKA', 'PSC', 'OBLAST', 'SKUPINA', 'RECEPTAR', 'POHLAVI',
    'TEXT', 'TYP_USTAJENI_NAZEV', 'KATASTR', 'KATEGORIE_PACIENTA', 'PREDEK', 'SABLONA_VYKONU_NAZEV',
    'CASTKA', 'POPIS', 'KOD', 'HLAVICKA', 'PRODEJKA', 'VLASTNI_ZASTUPCE', 'OBJEDNACI_KOD', 'PORADI',
    'POHLEDAVKA', 'HODINA_ODJEZDU', 'HODINA_PRIJEZDU', 'TYP_SOUBORU', 'TYP', 'ZADANKA',
    'ORD_CINNOST_NAZEV', 'CIL_CESTY', 'VZDALENOST', 'DODATEK', 'TABLE_NAME', 'FORMA_UHRADY',
    'FORMA_UHRADY_NAZEV', 'PROJEKCE', 'VYROBCE', 'UMISTENI', 'OZNACENI_ZAZNAMU_NAZEV',
    'VYROBNI_CISLO', 'DATUM_EXPIRACE', 'AKTIVNI', 'IS_RECEPT', 'TYP_POHYBU', 'DRUH',
    'PARTNER_NAZEV', 'ULICE', 'OBEC', 'VARIANTA_NAZEV', 'MERNA_JEDNOTKA_SK', 'MERNA_JEDNOTKA_VY',
    'ID_TYP_TEXTU', 'DATUM_UZAVERKY', 'UZAVERKA', 'TABLE_STATUS', 'ID_TABLE_STATUS',
    'DOKLAD_PUVODNI', 'ID_DRUH_DOKLADU', 'OD', 'DO',
}

DOC_KINDS = [('FA', 1110, 'Faktura'), ('PD', 1210, 'Pokladní doklad'), ('UM', 1310, 'Účet majitele'),
             ('SK', 1020, 'Skladový doklad'), ('BV', 1410, 'Bankovní výpis'), ('UZ', 1040, 'Uzávěrka')]


# ---------------------------------------------------------------------------------------
# Generation


class Practice:
    """The rows of one database, kept in memory while they are made."""

    def __init__(self, tables, today):
        self.tables = tables
        self.today = today
        self.rows = {name: [] for name in tables}
        self.by_key = {name: {} for name in tables}
        self.keys = {}            # generator or table -> last key used
        self.seq = {}             # per-table code counters
        self.used = {}            # per-table sets of natural keys
        self.index = {}           # (table, column) -> value -> rows; built on first use

    def copy(self):
        other = Practice(self.tables, self.today)
        other.rows = {n: [dict(r) for r in rows] for n, rows in self.rows.items()}
        for n, rows in other.rows.items():
            pk = self.tables[n].pk
            other.by_key[n] = {tuple(r[c] for c in pk): r for r in rows}
        other.keys = dict(self.keys)
        other.seq = dict(self.seq)
        other.used = {n: set(s) for n, s in self.used.items()}
        return other

    def rows_where(self, table, column, value):
        idx = self.index.get((table, column))
        if idx is None:
            idx = {}
            for r in self.rows[table]:
                idx.setdefault(r[column], []).append(r)
            self.index[(table, column)] = idx
        return idx.get(value, [])

    def append(self, table, row):
        self.rows[table].append(row)
        self.by_key[table][tuple(row[c] for c in self.tables[table].pk)] = row
        for (t, column), idx in self.index.items():
            if t == table:
                idx.setdefault(row[column], []).append(row)


class Maker:
    """Makes rows: the main practice (origin 'P') or the changes of a station or the main
    database after the split (origins 'S1', 'S2', ..., 'M')."""

    def __init__(self, practice, rng, origin, mark, dropped_tables=(), dropped_columns=None):
        self.p = practice
        self.rng = rng
        self.origin = origin
        self.mark = mark          # value of ST for new rows (None in the main database)
        self.dropped_tables = set(dropped_tables)
        self.dropped_columns = dropped_columns or {}
        self.shared_rng = None    # set while a shared natural key is made
        self.inserted = []        # (table, row) in order
        self.updated = []         # (table, row, changed columns)

    # -- helpers ---------------------------------------------------------------------
    def r(self):
        return self.shared_rng or self.rng

    def next_key(self, table):
        t = self.p.tables[table]
        name = t.generator or table
        value = self.p.keys.get(name, 0) + 1
        self.p.keys[name] = value
        return value

    def code(self, table, letter, width):
        n = self.p.seq.get(table, 0) + 1
        self.p.seq[table] = n
        prefix = 'X' if self.shared_rng else ('' if self.origin == 'P' else self.origin)
        digits = max(1, min(6, width - len(letter) - len(prefix)))
        return (letter + prefix + str(n).rjust(digits, '0'))[:width]

    def pick(self, table, column=None, value=None):
        rows = self.p.rows[table] if column is None else self.p.rows_where(table, column, value)
        if not rows:
            return None
        return self.r().choice(rows)

    def date(self, lo=600, hi=1):
        return self.p.today - datetime.timedelta(days=self.r().randint(hi, lo))

    def recent(self):
        return self.date(30, 0) if self.origin != 'P' else self.date()

    def time(self):
        r = self.r()
        return datetime.time(r.randint(7, 19), r.randint(0, 59), r.randint(0, 59), r.randint(0, 99) * 10000)

    def words(self, n, length=0):
        r = self.r()
        return cut(' '.join(r.choice(WORDS) for _ in range(n)).capitalize(), length)

    def person(self):
        r = self.r()
        first, last = r.choice(FIRST_NAMES), r.choice(LAST_NAMES)
        if first[-1] in 'ae':
            # Czech surnames of women: Novák -> Nováková, Černý -> Černá, Svoboda -> Svobodová.
            if last.endswith('ý'):
                last = last[:-1] + 'á'
            elif last.endswith('a'):
                last = last[:-1] + 'ová'
            elif last.endswith('ek') or last.endswith('ec'):
                last = last[:-2] + last[-1] + 'ová'
            else:
                last += 'ová'
        return first, last

    def org(self):
        p = self.pick('PRACOVISTE')
        if p is None:
            return -1, -1, -1
        return p['ID_ZARIZENI'], p['ID_ODDELENI'], p['ID_PRACOVISTE']

    def user(self):
        u = self.pick('UZIVATEL_NEW')
        return u['ID_UZIVATEL'] if u else -1

    def unique(self, table, make, tries=50):
        used = self.p.used.setdefault(table, set())
        for _ in range(tries):
            key = make()
            if key not in used:
                used.add(key)
                return key
        return None

    def value(self, column):
        r = self.r()
        k = column.kind
        if k == 'int':
            return r.randint(0, 100)
        if k == 'double':
            return round(r.uniform(0, 1000), 2)
        if k == 'numeric':
            return round(r.uniform(0, 10000), 2)
        if k == 'date':
            return self.date()
        if k == 'time':
            return self.time()
        if k == 'timestamp':
            return datetime.datetime.combine(self.date(), self.time().replace(microsecond=0))
        if k == 'text':
            return self.words(r.randint(4, 14)) + '.'
        if k == 'binary':
            n = r.randint(8, 48)
            return r.getrandbits(8 * n).to_bytes(n, 'little')
        if k == 'char':
            if column.length == 1:
                return r.choice('AN')
            # A code shorter than its column: the database pads it with blanks.
            return (r.choice('ABCDEFGH') + str(r.randint(10, 9999)))[:max(1, column.length - 3)]
        if k == 'varchar':
            return self.words(r.randint(1, 4), column.length)
        return None

    # -- rows --------------------------------------------------------------------------
    def fill(self, table, values):
        """Completes a row: key, organisation, users, dates and payload by column."""
        t = self.p.tables[table]
        row = {}
        zar, odd, prac = self.org()
        created = values.get('ZALOZENI_ZAZNAMU') or self.recent()
        for c in t.columns:
            n = c.name
            if n in values:
                row[n] = values[n]
            elif n == 'ST':
                row[n] = self.mark
            elif n == 'ID':
                row[n] = None
            elif len(t.pk) == 1 and n == t.pk[0]:
                row[n] = self.next_key(table)
            elif n == 'ID_ZARIZENI':
                row[n] = zar
            elif n == 'ID_ODDELENI':
                row[n] = odd
            elif n == 'ID_PRACOVISTE':
                row[n] = prac
            elif n in ('ID_ZALOZIL', 'ID_MODIFIKOVAL', 'ID_VLASTNI_ZASTUPCE') or n.startswith('ID_ORG_JEDNOTKA'):
                row[n] = self.user()
            elif n == 'ZALOZENI_ZAZNAMU':
                row[n] = created
            elif n == 'POSLEDNI_MODIFIKACE':
                row[n] = min(self.p.today, created + datetime.timedelta(days=self.r().randint(0, 20)))
            elif n.startswith('ID_'):
                row[n] = -1
            else:
                row[n] = self.value(c)
        return row

    def add(self, table, values):
        if table in self.dropped_tables:
            return None
        row = self.fill(table, values)
        self.p.append(table, row)
        self.inserted.append((table, row))
        return row

    def update(self, table, row, touch_only=False):
        t = self.p.tables[table]
        candidates = [c for c in t.columns
                      if c.name not in t.pk and c.name not in KEEP_COLUMNS and not c.name.startswith('ID_')
                      and c.name not in self.dropped_columns.get(table, ())]
        changed = {}
        if candidates and not touch_only:
            for c in self.rng.sample(candidates, min(len(candidates), self.rng.randint(1, 2))):
                value = self.value(c)
                if c.kind == 'double' and row.get(c.name) is not None and self.rng.random() < 0.3:
                    # A change below the fourth decimal place: equal when compared as "0.0000".
                    value = row[c.name] + 0.00001
                changed[c.name] = value
        if 'ST' in row:
            changed['ST'] = 'U'
        if not changed:
            return
        row.update(changed)
        self.updated.append((table, row, changed))


# Builders: the values that matter for one new row of a table; Maker.fill does the rest.
# Each returns the values, or None when the row cannot be made (no parent yet).

def b_zarizeni(m):
    town, psc = m.r().choice(TOWNS)
    first, last = m.person()
    return {'NAZEV': cut('Veterinární klinika MVDr. %s %s' % (first, last), 51), 'OBEC': town, 'PSC': psc,
            'ULICE': '%s %d' % (m.r().choice(STREETS), m.r().randint(1, 200)),
            'ICO': str(m.r().randint(10000000, 99999999)), 'DIC': 'CZ%d' % m.r().randint(10000000, 99999999),
            'EMAIL': 'klinika%d@vet.cz' % m.r().randint(1, 999), 'UROVEN': 0, 'DOBA_ZURNALU': 30}


def b_zarizeni_banka(m):
    z = m.pick('ZARIZENI')
    return {'ID_ZARIZENI': z['ID_ZARIZENI'],
            'BANKA': str(m.r().choice([100, 300, 800, 2010, 5500, 6100])).rjust(4, '0'),
            'UCET': '%d/%04d' % (m.r().randint(1000000, 99999999), m.r().randint(100, 9999))}


def b_cenik(m):
    return {'CENIK': m.code('CENIK', 'C', 10), 'CENIK_NAZEV': m.words(2, 50)}


def b_oddeleni(m):
    z = m.pick('ZARIZENI')
    c = m.pick('CENIK')
    code = m.code('ODDELENI', 'O', 10)
    return {'ID_ZARIZENI': z['ID_ZARIZENI'], 'ID_CENIK': c['ID_CENIK'] if c else -1, 'ZKRATKA': code,
            'NAZEV': m.r().choice(['Ambulance', 'Chirurgie', 'Interna', 'Laboratoř', 'Hospitalizace', 'Terén']) + ' ' + code}


def b_pracoviste(m):
    o = m.pick('ODDELENI')
    return {'ID_ZARIZENI': o['ID_ZARIZENI'], 'ID_ODDELENI': o['ID_ODDELENI'],
            'NAZEV': 'Ordinace ' + m.code('PRACOVISTE', 'č.', 6), 'ZKRATKA': m.code('PRACOVISTE_Z', 'W', 10)}


def b_pristupova_prava(m):
    name = m.unique('PRISTUPOVA_PRAVA', lambda: m.r().choice(['Lékař', 'Sestra', 'Recepce', 'Správce', 'Účetní',
                                                                'Laborant', 'Praktikant']) + ' ' + m.code('PP', '', 6))
    return {'NAZEV': name, 'ADMINISTRATOR': m.r().choice('AN'), 'NASTAVENI': m.r().choice('AN'),
            'DATABAZE': m.r().choice('AN')}


def b_pristup(m):
    pp = m.pick('PRISTUPOVA_PRAVA')
    module = m.unique('PRISTUP', lambda: (pp['ID_PRISTUPOVA_PRAVA'], m.r().randint(1, 60)))
    if module is None:
        return None
    return {'ID_PRISTUPOVA_PRAVA': pp['ID_PRISTUPOVA_PRAVA'], 'ID_PRISTPRAV': module[1], 'UROVEN': m.r().randint(0, 3)}


def b_uzivatel(m):
    first, last = m.person()
    pp = m.pick('PRISTUPOVA_PRAVA')
    return {'ZKRATKA': m.code('UZIVATEL_NEW', 'U', 10), 'JMENO': first, 'PRIJMENI': last,
            'TITUL': m.r().choice(['MVDr.', '', 'Bc.', 'Ing.']) or None, 'HESLO': m.code('HESLO', 'h', 12),
            'ID_PRISTUPOVA_PRAVA': pp['ID_PRISTUPOVA_PRAVA']}


def b_pracuziv(m):
    p = m.pick('PRACOVISTE')
    pp = m.pick('PRISTUPOVA_PRAVA')
    return {'ID_PRACOVISTE': p['ID_PRACOVISTE'], 'ID_ZARIZENI': p['ID_ZARIZENI'], 'ID_UZIVATEL': m.user(),
            'ID_PRISTPRAV': pp['ID_PRISTUPOVA_PRAVA']}


def b_pristup_org(m):
    a = m.pick('PRISTUP')
    p = m.pick('PRACOVISTE')
    return {'ID_PRISTUP': a['ID_PRISTUP'], 'ID_PRACOVISTE': p['ID_PRACOVISTE'], 'ID_ZARIZENI': p['ID_ZARIZENI'],
            'ID_ODDELENI': p['ID_ODDELENI'], 'UROVEN': m.r().randint(0, 3)}


def b_code(table, column, letter, width, name_column=None, names=None):
    def build(m):
        v = {column: m.code(table, letter, width)}
        if name_column:
            v[name_column] = cut(m.r().choice(names) if names else m.words(2), m.p.tables[table].column(name_column).length)
        return v
    return build


def b_named(table, column, names):
    def build(m):
        length = m.p.tables[table].column(column).length
        v = m.unique(table, lambda: cut('%s %s' % (m.r().choice(names), m.code(table + '#', '', 5)), length))
        return {column: v}
    return build


def b_diagnoza(m):
    name = m.r().choice(DIAGNOSES)
    return {'DIAGNOZA': m.code('DIAGNOZA', 'D', 10), 'DIAGNOZA_NAZEV': name, 'DIAGNOZA_POPIS': m.words(5, 100)}


def b_fraze(m):
    zar, odd, prac = m.org()
    return {'FRAZE': cut(m.words(2) + ' ' + m.code('FRAZE', '#', 8), 50), 'TEXT': m.words(12) + '.',
            'ID_ZARIZENI_PLATI_PRO': zar, 'ID_ODDELENI_PLATI_PRO': odd, 'ID_PRACOVISTE_PLATI_PRO': prac}


def b_hodnoceni(m):
    key = max([r['ID_HODNOCENI'] for r in m.p.rows['HODNOCENI']] + [0]) + 1
    return {'ID_HODNOCENI': key, 'HODNOCENI': m.code('HODNOCENI', 'H', 20), 'POPIS': m.words(3, 50)}


def b_psc(m):
    town, _ = m.r().choice(TOWNS)
    return {'PSC': m.code('PSC', '', 6), 'PSC_NAZEV': town}


def b_receptar(m):
    # Areas, groups in areas, recipes in groups, in a fixed proportion.
    rows = m.p.rows['RECEPTAR']
    areas = [r for r in rows if r['SKUPINA'] is None]
    groups = [r for r in rows if r['SKUPINA'] is not None and r['IS_RECEPT'] == 'N']
    n = len(rows)
    if not areas or n % 4 == 0:
        return {'ID_PREDEK': -1, 'OBLAST': 'Oblast ' + m.code('RECEPTAR_O', '', 6), 'SKUPINA': None,
                'RECEPTAR': None, 'IS_RECEPT': 'N', 'TEXT': None}
    if not groups or n % 4 == 1:
        a = m.r().choice(areas)
        return {'ID_PREDEK': a['ID_RECEPTAR'], 'OBLAST': a['OBLAST'], 'SKUPINA': 'Skupina ' + m.code('RECEPTAR_S', '', 6),
                'RECEPTAR': None, 'IS_RECEPT': 'N', 'TEXT': None}
    g = m.r().choice(groups)
    return {'ID_PREDEK': g['ID_RECEPTAR'], 'OBLAST': g['OBLAST'], 'SKUPINA': g['SKUPINA'],
            'RECEPTAR': cut(m.r().choice(PRODUCTS) + ' ' + m.code('RECEPTAR_R', '', 6), 50), 'IS_RECEPT': 'A'}


def b_pohlavi(m):
    return {'POHLAVI': m.code('POHLAVI', 'G', 10), 'SAMEC': m.r().choice('AN'), 'KASTRAT': m.r().choice('AN')}


def b_text(m):
    return {'ID_TYP_TEXTU': m.r().randint(1, 5), 'TEXT': cut(m.words(2) + ' ' + m.code('TEXT', '#', 7), 50)}


def b_kategorie(m):
    roots = [r for r in m.p.rows['KATEGORIE_PACIENTA'] if r['ID_PREDEK'] == -1]
    if len(roots) < len(SPECIES) and (len(roots) < 3 or m.r().random() < 0.3):
        name = SPECIES[len(roots)][0]
        if name in m.p.used.setdefault('KATEGORIE_ROOT', set()):
            name = cut(name + ' ' + m.code('KATEGORIE_PACIENTA', '', 4), 30)
        m.p.used['KATEGORIE_ROOT'].add(name)
        return {'ID_PREDEK': -1, 'KATEGORIE_PACIENTA': name, 'PREDEK': None}
    root = m.r().choice(roots)
    breeds = dict(SPECIES).get(root['KATEGORIE_PACIENTA'], ['Jiné'])
    name = m.unique('KATEGORIE_SUB', lambda: cut('%s %s' % (m.r().choice(breeds), m.code('KATEGORIE_PACIENTA', '', 4)), 30))
    return {'ID_PREDEK': root['ID_KATEGORIE_PACIENTA'], 'KATEGORIE_PACIENTA': name, 'PREDEK': root['KATEGORIE_PACIENTA']}


def b_partner(m):
    if not m.p.rows['PARTNER'] and m.origin == 'P':
        # The placeholder partner of documents without a partner: key -1, never played.
        return {'ID_PARTNER': -1, 'PARTNER': '\u2026', 'PARTNER_NAZEV': '\u2026'}
    first, last = m.person()
    town, psc = m.r().choice(TOWNS)
    return {'PARTNER': m.code('PARTNER', 'P', 10), 'PARTNER_NAZEV': '%s %s' % (last, first),
            'TITUL': m.r().choice([None, None, 'Ing.', 'Mgr.', 'MUDr.']), 'ULICE': '%s %d' % (m.r().choice(STREETS), m.r().randint(1, 300)),
            'PSC': psc, 'OBEC': town, 'IDENTIFIKATOR': str(m.r().randint(10000000, 99999999)),
            'TELEFON': '+420 %03d %03d %03d' % (m.r().randint(600, 799), m.r().randint(0, 999), m.r().randint(0, 999)),
            'EMAIL': '%s.%d@example.cz' % (last.lower(), m.r().randint(1, 99)),
            'DATUM_REGISTRACE': m.date()}


def _partner(m):
    # Any partner but the placeholder of key -1.
    while True:
        pa = m.pick('PARTNER')
        if pa['ID_PARTNER'] > 0:
            return pa


def b_partner_kontakt(m):
    pa = _partner(m)
    return {'ID_PARTNER': pa['ID_PARTNER'], 'PARTNER_KONTAKT': '+420 %09d' % m.r().randint(0, 999999999),
            'TYP_KONTAKTU': m.r().choice(['mobil', 'e-mail', 'pevná'])}


def b_partner_banka(m):
    pa = _partner(m)
    return {'ID_PARTNER': pa['ID_PARTNER'], 'PARTNER_BANKA': m.code('PARTNER_BANKA', '19-', 20),
            'BANKA': str(m.r().choice([100, 300, 800, 2010, 5500])).rjust(4, '0')}


def b_farma(m):
    pa = _partner(m)
    k = m.pick('KATASTR')
    return {'ID_PARTNER': pa['ID_PARTNER'], 'FARMA': m.code('FARMA', 'F', 10),
            'FARMA_NAZEV': 'Farma ' + m.r().choice(LAST_NAMES), 'ID_KATASTR': k['ID_KATASTR'] if k else -1}


def b_pacient(m):
    pa = _partner(m)
    roots = [r for r in m.p.rows['KATEGORIE_PACIENTA'] if r['ID_PREDEK'] == -1]
    root = m.r().choice(roots)
    breeds = dict(SPECIES).get(root['KATEGORIE_PACIENTA'], ['Jiné'])
    sex = m.pick('POHLAVI')
    return {'ID_PARTNER': pa['ID_PARTNER'], 'PACIENT': m.code('PACIENT', 'A', 10), 'JMENO': m.r().choice(ANIMAL_NAMES),
            'DRUH': root['KATEGORIE_PACIENTA'], 'ID_DRUH': root['ID_KATEGORIE_PACIENTA'], 'PLEMENO': m.r().choice(breeds),
            'POHLAVI': sex['POHLAVI'] if sex else None, 'DATUM_NAROZENI': m.date(5000, 100),
            'VAHA': round(m.r().uniform(0.2, 60), 3), 'CIP': str(m.r().randint(10 ** 9, 10 ** 10 - 1))}


def after_pacient(m, row):
    # Every patient has its default case; the case name is the one the play-in gives it.
    case = m.add('PRIPAD', {'ID_PACIENT': row['ID_PACIENT'], 'PRIPAD': 'Nezařazené návštěvy', 'AKTIVNI': 'O',
                            'HOSPITALIZACE': 'N', 'ZALOZENI_ZAZNAMU': row['ZALOZENI_ZAZNAMU']})
    row['ID_TABLE_STATUS'] = case['ID_PRIPAD']


def _patient_dated(table, extra=None):
    def build(m):
        def key():
            pac = m.pick('PACIENT')
            return pac['ID_PACIENT'], m.recent()
        k = m.unique(table, key)
        if k is None:
            return None
        v = {'ID_PACIENT': k[0], 'ZALOZENI_ZAZNAMU': k[1]}
        if extra:
            v.update(extra(m))
        return v
    return build


def _lab_partner(m):
    pa = _partner(m)
    if m.r().random() < 0.2:
        return {'ID_PARTNER': -1, 'PARTNER': None}
    return {'ID_PARTNER': pa['ID_PARTNER'], 'PARTNER': pa['PARTNER']}


def b_premisteni(m):
    pa = _partner(m)
    return {'ID_PARTNER': pa['ID_PARTNER'], 'PORADOVE_CISLO': m.code('PREMISTENI_ZVIRETE', '', 10), 'DATUM': m.recent(),
            'MISTO_URCENI': m.r().choice(TOWNS)[0]}


def b_premisteni_zvi(m):
    pz = m.pick('PREMISTENI_ZVIRETE')
    if pz is None:
        return None
    return {'ID_PREMISTENI_ZVIRETE': pz['ID_PREMISTENI_ZVIRETE'], 'IDENTIFIKACNI_CISLO': m.code('PZZ', 'CZ', 20),
            'DRUH': m.r().choice(SPECIES)[0]}


def b_varianta(m):
    sk = m.pick('MERNA_JEDNOTKA')
    vy = m.pick('MERNA_JEDNOTKA')
    return {'VARIANTA': m.code('VARIANTA', 'V', 10), 'VARIANTA_NAZEV': cut(m.r().choice(PRODUCTS), 50),
            'MERNA_JEDNOTKA_SK': sk['MERNA_JEDNOTKA'], 'ID_MERNA_JEDNOTKA_SK': sk['ID_MERNA_JEDNOTKA'],
            'MERNA_JEDNOTKA_VY': vy['MERNA_JEDNOTKA'], 'ID_MERNA_JEDNOTKA_VY': vy['ID_MERNA_JEDNOTKA'],
            'SAZBA_DPH': m.r().choice([0.0, 12.0, 21.0])}


def b_sablona(m):
    return {'SABLONA_VYKONU_NAZEV': 'Šablona ' + m.code('SABLONA_VYKONU', '', 8)}


def b_sablona_polozka(m):
    s = m.pick('SABLONA_VYKONU')
    v = m.pick('VARIANTA')
    u = m.pick('MERNA_JEDNOTKA')
    if m.unique('SABLONA_VYKONU_POLOZKA', lambda: (s['ID_SABLONA_VYKONU'], v['ID_VARIANTA'])) is None:
        return None
    return {'ID_SABLONA_VYKONU': s['ID_SABLONA_VYKONU'], 'SABLONA_VYKONU_NAZEV': s['SABLONA_VYKONU_NAZEV'],
            'ID_VARIANTA': v['ID_VARIANTA'], 'VARIANTA': v['VARIANTA'], 'ID_MERNA_JEDNOTKA': u['ID_MERNA_JEDNOTKA'],
            'MERNA_JEDNOTKA': u['MERNA_JEDNOTKA'], 'MNOZSTVI': float(m.r().randint(1, 5))}


def b_pripad(m):
    pac = m.pick('PACIENT')
    active = m.r().random() < 0.5
    if active and any(c['AKTIVNI'] == 'A' for c in m.p.rows_where('PRIPAD', 'ID_PACIENT', pac['ID_PACIENT'])):
        active = False
    return {'ID_PACIENT': pac['ID_PACIENT'], 'PRIPAD': cut('%s %s' % (m.r().choice(DIAGNOSES), m.code('PRIPAD', '#', 6)), 50),
            'AKTIVNI': 'A' if active else 'N', 'HOSPITALIZACE': m.r().choice('AN'), 'POPIS': m.words(5, 100)}


def b_doklad(m):
    kind, druh, _ = m.r().choice(DOC_KINDS)
    pa = _partner(m)
    sk = m.pick('SKLAD')
    ce = m.pick('CENIK')
    earlier = m.pick('DOKLAD', 'TYP_DOKLADU', kind)
    created = m.recent()
    number = m.code('DOKLAD', kind + str(created.year % 100), 15)
    return {'TYP_DOKLADU': kind, 'ID_TYP_DOKLADU': druh // 10, 'ID_DRUH_DOKLADU': druh, 'DOKLAD': number,
            'ID_PARTNER': pa['ID_PARTNER'], 'PARTNER': pa['PARTNER'], 'PARTNER_NAZEV': pa['PARTNER_NAZEV'],
            'ULICE': pa['ULICE'], 'PSC': pa['PSC'], 'OBEC': pa['OBEC'], 'TITUL': pa['TITUL'],
            'IDENTIFIKATOR': pa['IDENTIFIKATOR'], 'DIC': None,
            'ID_SKLAD': sk['ID_SKLAD'], 'SKLAD': sk['SKLAD'], 'ID_SKLAD_CIL': -1, 'SKLAD_CIL': None,
            'ID_CENIK': ce['ID_CENIK'], 'CENIK': ce['CENIK'],
            'ID_PREDEK': earlier['ID_DOKLAD'] if earlier and m.r().random() < 0.2 else -1,
            'DOKLAD_PUVODNI': None, 'ID_TABLE_STATUS': m.r().randint(1, 4), 'TABLE_STATUS': m.r().choice(['Nový', 'Zaplaceno', 'Storno', 'Otevřený']),
            'FORMA_UHRADY': m.r().choice(['hotově', 'převodem', 'kartou']), 'VARIABILNI_SYMBOL': str(m.r().randint(1, 10 ** 9)),
            'ZALOZENI_ZAZNAMU': created, 'DATUM_DOKLADU': created, 'DATUM_VYSTAVENI': created, 'DATUM_PLNENI': created,
            'DATUM_SPLATNOSTI': created + datetime.timedelta(days=14), 'CAS': m.time(),
            'CENA': round(m.r().uniform(50, 20000), 2), 'ROUND': '0.01', 'DODATEK': None}


def after_doklad(m, row):
    if row['ID_PREDEK'] != -1:
        row['DOKLAD_PUVODNI'] = m.p.by_key['DOKLAD'][(row['ID_PREDEK'],)]['DOKLAD']


def b_zaloha(m):
    pa = _partner(m)
    return {'ID_PARTNER': pa['ID_PARTNER'], 'CASTKA': float(m.r().randint(1, 200) * 100), 'DATUM': m.recent(),
            'DOKLAD': m.code('PARTNER_ZALOHA', 'ZA', 15)}


def b_cerpani(m):
    z = m.pick('PARTNER_ZALOHA')
    return {'ID_PARTNER_ZALOHA': z['ID_PARTNER_ZALOHA'], 'DOKLAD': m.code('PARTNER_ZALOHA_CERPANI', 'CE', 15),
            'CASTKA': float(m.r().randint(1, 20) * 50), 'DATUM': m.recent()}


def b_denni_zaznam(m):
    pac = m.pick('PACIENT')
    cases = m.p.rows_where('PRIPAD', 'ID_PACIENT', pac['ID_PACIENT'])
    case = m.r().choice(cases) if cases else None
    doc = m.pick('DOKLAD', 'TYP_DOKLADU', 'UM') if m.r().random() < 0.5 else None
    diag = m.pick('DIAGNOZA')
    day = m.recent()
    return {'ID_PACIENT': pac['ID_PACIENT'], 'ID_PRIPAD': case['ID_PRIPAD'] if case else -1,
            'PRIPAD': case['PRIPAD'] if case else None, 'ID_DOKLAD': doc['ID_DOKLAD'] if doc else -1,
            'DOKLAD_PUVODNI': None, 'DATUM': day, 'CAS': m.time(), 'ZALOZENI_ZAZNAMU': day, 'TYP': m.r().randint(1, 3),
            'DIAGNOZA': diag['DIAGNOZA'], 'DIAGNOZA_NAZEV': diag['DIAGNOZA_NAZEV'], 'DIAGNOZA_POPIS': diag['DIAGNOZA_POPIS'],
            'HODNOCENI': None, 'ID_SKLAD': -1, 'ID_ZADANKA': -1, 'DEKURS': m.words(m.r().randint(8, 30)) + '.'}


def b_polozka(kind):
    table = 'DOKLAD_POLOZKA_' + kind

    def build(m):
        doc = m.pick('DOKLAD', 'TYP_DOKLADU', kind) or m.pick('DOKLAD')
        v = m.pick('VARIANTA')
        u = m.pick('MERNA_JEDNOTKA')
        sk = m.pick('SKLAD')
        qty = float(m.r().randint(1, 10))
        price = round(m.r().uniform(10, 2000), 2)
        values = {'ID_DOKLAD': doc['ID_DOKLAD'], 'ID_VARIANTA': v['ID_VARIANTA'], 'VARIANTA': v['VARIANTA'],
                  'VARIANTA_NAZEV': v['VARIANTA_NAZEV'], 'ID_MERNA_JEDNOTKA': u['ID_MERNA_JEDNOTKA'],
                  'MERNA_JEDNOTKA': u['MERNA_JEDNOTKA'], 'ID_SKLAD': sk['ID_SKLAD'], 'SKLAD': sk['SKLAD'],
                  'ID_CENIK': doc['ID_CENIK'], 'CENIK': doc['CENIK'], 'MNOZSTVI': qty, 'CENA_MJ': price,
                  'CENA': round(qty * price, 2), 'CENA_DPH': round(qty * price * 1.21, 2), 'SAZBA_DPH': 21.0,
                  'ZALOZENI_ZAZNAMU': doc['ZALOZENI_ZAZNAMU'], 'CAS': m.time(), 'TYP_POHYBU': 'P', 'ZNAMENKO': 1,
                  'ID_DOKLAD_PREDEK': -1, 'ID_DOKLAD_POLOZKA_PREDEK': -1, 'ID_DOKLAD_POLOZKA_PRIJEM': -1,
                  'ID_DOKLAD_POLOZKA_U': -1, 'ID_DENNI_ZAZNAM': -1, 'UZAVERKA': None,
                  'VYROBNI_CISLO': m.code(table + '#', 'SN', 12) if m.r().random() < 0.4 else None,
                  'DATUM_EXPIRACE': m.p.today + datetime.timedelta(days=m.r().randint(30, 900)) if m.r().random() < 0.4 else None}
        if kind == 'UM':
            dz = m.pick('DENNI_ZAZNAM')
            values['ID_DENNI_ZAZNAM'] = dz['ID_DENNI_ZAZNAM'] if dz else -1
        if kind == 'SK':
            values['TYP_POHYBU'] = m.r().choice('PVG')
            if values['TYP_POHYBU'] == 'V':
                prev = m.pick('DOKLAD_POLOZKA_UM') or m.pick('DOKLAD_POLOZKA_PD')
                if prev:
                    values['ID_DOKLAD_POLOZKA_PREDEK'] = prev['ID_DOKLAD_POLOZKA']
        if kind == 'UZ':
            values['TYP_POHYBU'] = 'T'
            values['DATUM_UZAVERKY'] = datetime.datetime.combine(doc['ZALOZENI_ZAZNAMU'], datetime.time(18, 0))
        return values
    return build


def _daily(m):
    return m.pick('DENNI_ZAZNAM')


def b_dz_hodnota(m):
    dz = _daily(m)
    return {'ID_DENNI_ZAZNAM': dz['ID_DENNI_ZAZNAM'], 'CAS': m.time(), 'TEPLOTA': round(m.r().uniform(37.5, 40.5), 1),
            'PULS': m.r().randint(60, 180), 'DECH': m.r().randint(10, 40)}


def b_dz_recept(m):
    dz = _daily(m)
    n = m.unique('DENNI_ZAZNAM_RECEPT', lambda: (dz['ID_DENNI_ZAZNAM'], m.r().randint(1, 9)))
    if n is None:
        return None
    return {'ID_DENNI_ZAZNAM': n[0], 'PORADOVE_CISLO': n[1], 'RECEPT': cut(m.r().choice(PRODUCTS), 100)}


def b_dz_detail(table):
    def build(m):
        dz = m.unique(table, lambda: _daily(m)['ID_DENNI_ZAZNAM'])
        if dz is None:
            return None
        return {'ID_DENNI_ZAZNAM': dz, 'ID_PACIENT': m.p.by_key['DENNI_ZAZNAM'][(dz,)]['ID_PACIENT']}
    return build


def b_zub(m):
    st = m.pick('DENNI_ZAZNAM_STOMATO') or _daily(m)
    k = m.unique('DZS_ZUB', lambda: (st['ID_DENNI_ZAZNAM'], m.r().choice([11, 12, 13, 21, 22, 23, 31, 32, 41, 42, 104, 204])))
    if k is None:
        return None
    return {'ID_DENNI_ZAZNAM': k[0], 'ID_ZUB': k[1], 'NALEZ': m.words(2, 50)}


def _um_item(m):
    it = m.pick('DOKLAD_POLOZKA_UM') if m.r().random() < 0.6 else None
    return it['ID_DOKLAD_POLOZKA'] if it else -1


def b_koprologie(m):
    v = _patient_dated('KOPROLOGIE')(m)
    if v:
        v['ID_DOKLAD_POLOZKA'] = _um_item(m)
    return v


def b_soubor(m):
    pac = m.pick('PACIENT')
    k = m.unique('SOUBOR', lambda: (pac['ID_PACIENT'], m.recent()))
    if k is None:
        return None
    return {'ID_PACIENT': k[0], 'DATUM': k[1], 'POPIS': m.words(3, 100), 'NAZEV_SOUBORU': 'snimek_%d.jpg' % m.r().randint(1, 9999)}


def b_vakcinace(m):
    pac = m.pick('PACIENT')
    v = m.pick('VARIANTA')
    k = m.unique('VAKCINACE_ODCERVENI', lambda: (pac['ID_PACIENT'], v['VARIANTA'], m.recent()))
    if k is None:
        return None
    return {'ID_PACIENT': k[0], 'VARIANTA': v['VARIANTA'], 'VARIANTA_NAZEV': v['VARIANTA_NAZEV'], 'ID_VARIANTA': v['ID_VARIANTA'],
            'DATUM': k[2], 'PRISTI_APLIKACE': k[2] + datetime.timedelta(days=365), 'SARZE': m.code('SARZE', 'L', 12),
            'ID_DOKLAD_POLOZKA': _um_item(m)}


def b_varianta_sklad(m):
    k = m.unique('VARIANTA_SKLAD', lambda: (m.pick('VARIANTA')['ID_VARIANTA'], m.pick('SKLAD')['ID_SKLAD']))
    if k is None:
        return None
    sk = m.p.by_key['SKLAD'][(k[1],)]
    return {'ID_VARIANTA': k[0], 'ID_SKLAD': k[1], 'SKLAD': sk['SKLAD'], 'MIN_ZASOBA': float(m.r().randint(0, 5)),
            'MAX_ZASOBA': float(m.r().randint(10, 100))}


def b_varianta_cenik(m):
    k = m.unique('VARIANTA_CENIK', lambda: (m.pick('VARIANTA')['ID_VARIANTA'], m.pick('SKLAD')['ID_SKLAD'], m.pick('CENIK')['ID_CENIK']))
    if k is None:
        return None
    sk = m.p.by_key['SKLAD'][(k[1],)]
    ce = m.p.by_key['CENIK'][(k[2],)]
    price = round(m.r().uniform(10, 3000), 2)
    return {'ID_VARIANTA': k[0], 'ID_SKLAD': k[1], 'SKLAD': sk['SKLAD'], 'ID_CENIK': k[2], 'CENIK': ce['CENIK'],
            'CENA': price, 'CENA_DPH': round(price * 1.21, 2)}


def b_varianta_partner(m):
    v = m.pick('VARIANTA')
    pa = _partner(m)
    k = m.unique('VARIANTA_PARTNER', lambda: (v['ID_VARIANTA'], m.r().randint(1, 50)))
    if k is None:
        return None
    return {'ID_VARIANTA': v['ID_VARIANTA'], 'ID_PARTNER': pa['ID_PARTNER'], 'PARTNER': pa['PARTNER'], 'PORADI': k[1],
            'OBJEDNACI_KOD': m.code('VARIANTA_PARTNER', 'OK', 20), 'CENA': round(m.r().uniform(5, 1500), 2)}


def b_pohledavka(m):
    doc = m.pick('DOKLAD', 'TYP_DOKLADU', 'FA') or m.pick('DOKLAD')
    return {'ID_PARTNER': doc['ID_PARTNER'], 'ID_DOKLAD': doc['ID_DOKLAD'], 'POHLEDAVKA': m.code('POHLEDAVKA', 'PO', 15),
            'CASTKA': doc['CENA'], 'DATUM_SPLATNOSTI': doc['DATUM_SPLATNOSTI']}


def b_labvh(m):
    pac = m.pick('PACIENT')
    return {'ID_PACIENT': pac['ID_PACIENT'], 'NAZEV': m.r().choice(['Krevní obraz', 'Biochemie', 'Moč', 'Trus', 'Cytologie']),
            'DATUM': m.recent(), 'CAS': m.time(), 'LABORATOR': 'Laboratoř ' + m.r().choice(TOWNS)[0]}


def b_labvd(m):
    head = m.pick('LABVH')
    number = max([r['ID_LABVD'] for r in m.p.rows_where('LABVD', 'ID_LABVH', head['ID_LABVH'])] + [0]) + 1
    low = round(m.r().uniform(0, 10), 2)
    return {'ID_LABVH': head['ID_LABVH'], 'ID_LABVD': number, 'KOD': m.code('LABVD', 'K', 10),
            'ZKRATKA': m.r().choice(['WBC', 'RBC', 'HGB', 'PLT', 'ALT', 'AST', 'GLU', 'UREA', 'KREA']),
            'VYSLEDEK': str(round(m.r().uniform(0, 20), 2)), 'MIN_REFERENCE': low, 'MAX_REFERENCE': round(low + 10, 2),
            'JEDNOTKA': m.r().choice(['g/l', 'mmol/l', '10^9/l', 'µkat/l'])}


def b_cesta(m):
    v = m.pick('VARIANTA') if m.r().random() < 0.7 else None
    it = m.pick('DOKLAD_POLOZKA_UM') if m.r().random() < 0.5 else None
    day = m.recent()
    start = m.time().replace(microsecond=0)
    return {'DATUM': day, 'HODINA_ODJEZDU': start, 'HODINA_PRIJEZDU': start.replace(hour=min(23, start.hour + 2)),
            'ID_VARIANTA': v['ID_VARIANTA'] if v else -1, 'ID_DOKLAD_POLOZKA': it['ID_DOKLAD_POLOZKA'] if it else -1,
            'ODKUD': m.r().choice(TOWNS)[0], 'KAM': m.r().choice(TOWNS)[0], 'KM': float(m.r().randint(2, 150))}


def b_skupina_obr(m):
    return {'NAZEV': 'Skupina ' + m.code('SKUPINA_OBRAZOVE_DOKUMENTACE', '', 6), 'TYP': m.r().randint(1, 3)}


def b_obrazova(m):
    pac = m.pick('PACIENT')
    g = m.pick('SKUPINA_OBRAZOVE_DOKUMENTACE')
    return {'ID_PACIENT': pac['ID_PACIENT'], 'ID_SKUPINA': g['ID_SKUPINA'], 'TYP_ZAZNAMU': g['TYP'],
            'NAZEV': cut('Snímek ' + m.code('OBRAZOVA_DOKUMENTACE', '', 8), 50), 'TYP_SOUBORU': m.r().choice(['jpg', 'JPG', 'png', 'dcm'])}


def b_zadanka(m):
    dz = _daily(m)
    case = m.p.by_key['PRIPAD'].get((dz['ID_PRIPAD'],))
    zar, odd, prac = m.org()
    zar2, odd2, prac2 = m.org()
    t = m.pick('TYP_ZADANKY')
    return {'ID_PACIENT': dz['ID_PACIENT'], 'ID_DENNI_ZAZNAM': dz['ID_DENNI_ZAZNAM'], 'ID_PRIPAD': dz['ID_PRIPAD'],
            'PRIPAD': case['PRIPAD'] if case else None, 'ZADANKA': m.code('ZADANKA', 'Z', 20),
            'ID_TYP_ZADANKY': t['ID_TYP_ZADANKY'] if t else -1,
            'ID_ZARIZENI_PRO': zar, 'ID_ODDELENI_PRO': odd, 'ID_PRACOVISTE_PRO': prac,
            'ID_ZARIZENI_PROVEDL': zar2, 'ID_ODDELENI_PROVEDL': odd2, 'ID_PRACOVISTE_PROVEDL': prac2}


def after_zadanka(m, row):
    dz = m.p.by_key['DENNI_ZAZNAM'].get((row['ID_DENNI_ZAZNAM'],))
    if dz is not None and m.origin == 'P':
        dz['ID_ZADANKA'] = row['ID_ZADANKA']


def b_prodejka(m):
    pa = _partner(m) if m.r().random() < 0.8 else None
    sk = m.pick('SKLAD')
    ce = m.pick('CENIK')
    u = m.pick('UZIVATEL_NEW')
    v = {'PRODEJKA': m.code('PRODEJKA', 'PR', 15), 'ID_SKLAD': sk['ID_SKLAD'], 'SKLAD': sk['SKLAD'], 'ID_CENIK': ce['ID_CENIK'],
         'CENIK': ce['CENIK'], 'ID_VLASTNI_ZASTUPCE': u['ID_UZIVATEL'], 'VLASTNI_ZASTUPCE': u['ZKRATKA'],
         'CENA': round(m.r().uniform(20, 5000), 2)}
    if pa:
        v.update({'ID_PARTNER': pa['ID_PARTNER'], 'PARTNER': pa['PARTNER'], 'PARTNER_NAZEV': pa['PARTNER_NAZEV'],
                  'ULICE': pa['ULICE'], 'PSC': pa['PSC'], 'OBEC': pa['OBEC']})
    else:
        v.update({'ID_PARTNER': -1, 'PARTNER': None, 'PARTNER_NAZEV': None, 'ULICE': None, 'PSC': None, 'OBEC': None})
    return v


def b_labhodn(m):
    return {'ZKRATKA': m.code('LABHODN', 'L', 10), 'HODNOCENI': m.r().choice(['nízká', 'norma', 'vysoká', 'kritická'])}


def b_lab_vazby(m):
    k = m.unique('LAB_VAZBY', lambda: (m.r().randint(1, 5), m.r().randint(1, 40), m.r().randint(1, 6)))
    if k is None:
        return None
    v = m.pick('VARIANTA')
    return {'ID_TYP_ZADANKY': k[0], 'ID_POLOZKA_ZADANKY': k[1], 'ID_TYP_VZORKU': k[2], 'ID_VARIANTA': v['ID_VARIANTA']}


def b_cil_cesty(m):
    return {'CIL_CESTY': cut('%s %s' % (m.r().choice(TOWNS)[0], m.code('CIL_CESTY', '', 5)), 50), 'VZDALENOST': m.r().randint(1, 300)}


def b_dodatek(m):
    return {'DODATEK': cut('Dodatek ' + m.code('DODATEK', '', 6), 30), 'TABLE_NAME': m.r().choice(['DOKLAD', 'PACIENT', 'PARTNER'])}


def b_forma_uhrady(m):
    return {'FORMA_UHRADY': m.code('FORMA_UHRADY', 'U', 10), 'FORMA_UHRADY_NAZEV': m.r().choice(['Hotově', 'Převodem', 'Kartou', 'Dobírka'])}


def b_zprava(m):
    pac = m.pick('PACIENT')
    k = m.unique('ZPRAVA', lambda: (pac['ID_PACIENT'], m.recent()))
    if k is None:
        return None
    return {'ID_PACIENT': k[0], 'DATUM': k[1], 'HLAVICKA': cut('Zpráva pro %s %s' % m.person(), 100)}


def b_rada(m):
    return {'RADA': m.code('RADA', 'R', 10), 'NAZEV': 'Řada ' + m.r().choice(['faktur', 'pokladny', 'skladu'])}


def b_rada_polozka(m):
    ra = m.pick('RADA')
    return {'ID_RADA': ra['ID_RADA'], 'ROK': m.p.today.year, 'PREFIX': ra['RADA']}


def b_rada_cislo(m):
    rp = m.pick('RADA_POLOZKA')
    return {'ID_RADA_POLOZKA': rp['ID_RADA_POLOZKA'], 'PORADOVE_CISLO': m.r().randint(1, 5000)}


def b_fronta(m):
    return {'ID_PACIENT': m.pick('PACIENT')['ID_PACIENT'], 'DATUM': m.recent(), 'CAS': m.time(), 'POZNAMKA': m.words(3, 100)}


def b_obj(m):
    return {'ID_PACIENT': m.pick('PACIENT')['ID_PACIENT'], 'DATUM': m.recent(), 'CAS': m.time(), 'DELKA': m.r().choice([15, 30, 45, 60])}


def b_ord_doba(m):
    p = m.pick('PRACOVISTE')
    start = datetime.time(m.r().randint(7, 13), 0)
    return {'ID_PRACOVISTE': p['ID_PRACOVISTE'], 'DEN': m.r().randint(1, 7), 'OD': start,
            'DO': start.replace(hour=start.hour + 4), 'PLATNOST_OD': m.date(),
            # Texts with apostrophes: the copy-back builds its INSERT from them.
            'POZNAMKA': m.r().choice(["Po–Pá, oběd 12–13 h", "'Polední pauza'", "Jen objednaní (tel. 'ordinace')", None])}


def b_nastaveni(m):
    return {'SEKCE': m.r().choice(['Tisk', 'Sklad', 'Doklady']), 'KLIC': m.code('NASTAVENI', 'Klic', 30), 'HODNOTA': m.words(2, 200)}


def b_typ_zadanky(m):
    key = len(m.p.rows['TYP_ZADANKY']) + 1 if m.origin == 'P' else max(r['ID_TYP_ZADANKY'] for r in m.p.rows['TYP_ZADANKY']) + 1
    return {'ID_TYP_ZADANKY': key, 'NAZEV': m.r().choice(['Laboratoř', 'Rentgen', 'Ultrazvuk', 'Patologie']) + ' ' + str(key)}


def b_teplota_misto(m):
    return {'NAZEV': m.r().choice(['Lednice', 'Sklad léčiv', 'Mrazák']) + ' ' + m.code('TEPLOTA_MISTO', '', 3)}


def b_teplota(m):
    return {'ID_TEPLOTA_MISTO': m.pick('TEPLOTA_MISTO')['ID_TEPLOTA_MISTO'], 'DATUM': m.recent(), 'CAS': m.time(),
            'HODNOTA': round(m.r().uniform(2, 8), 1), 'ID_ZALOZIL': m.user()}


def b_rada_oj(m):
    p = m.pick('PRACOVISTE')
    return {'ID_RADA': m.pick('RADA')['ID_RADA'], 'ID_ZARIZENI': p['ID_ZARIZENI'], 'ID_ODDELENI': p['ID_ODDELENI'],
            'ID_PRACOVISTE': p['ID_PRACOVISTE']}


BUILDERS = {
    'ZARIZENI': b_zarizeni, 'ZARIZENI_BANKA': b_zarizeni_banka, 'CENIK': b_cenik, 'ODDELENI': b_oddeleni,
    'PRACOVISTE': b_pracoviste, 'PRISTUPOVA_PRAVA': b_pristupova_prava, 'PRISTUP': b_pristup,
    'UZIVATEL_NEW': b_uzivatel, 'PRACUZIV': b_pracuziv, 'PRISTUP_ORG_JEDNOTKA': b_pristup_org,
    'BANKA': b_code('BANKA', 'BANKA', '', 4, 'BANKA_NAZEV', ['Česká spořitelna', 'ČSOB', 'Komerční banka', 'Fio banka', 'Raiffeisenbank']),
    'DIAGNOZA': b_diagnoza, 'FRAZE': b_fraze, 'HODNOCENI': b_hodnoceni,
    'MERNA_JEDNOTKA': b_code('MERNA_JEDNOTKA', 'MERNA_JEDNOTKA', 'J', 10, 'MERNA_JEDNOTKA_NAZEV', ['kus', 'balení', 'mililitr', 'gram', 'tableta', 'ampule']),
    'PSC': b_psc, 'RECEPTAR': b_receptar,
    'SKLAD': b_code('SKLAD', 'SKLAD', 'S', 10, 'SKLAD_NAZEV', ['Hlavní sklad', 'Lékárna', 'Sklad krmiv', 'Příruční sklad']),
    'POHLAVI': b_pohlavi, 'TEXT': b_text,
    'TYP_USTAJENI': b_named('TYP_USTAJENI', 'TYP_USTAJENI_NAZEV', ['Stáj', 'Kotec', 'Box', 'Výběh', 'Byt', 'Voliéra']),
    'KATASTR': b_code('KATASTR', 'KATASTR', 'K', 10, 'KATASTR_NAZEV', [t for t, _ in TOWNS]),
    'KATEGORIE_PACIENTA': b_kategorie, 'PARTNER': b_partner, 'PARTNER_KONTAKT': b_partner_kontakt,
    'PARTNER_BANKA': b_partner_banka, 'FARMA': b_farma, 'PACIENT': b_pacient,
    'VYSETRENI_NA_VZTEKLINU': _patient_dated('VYSETRENI_NA_VZTEKLINU', lambda m: {'VYSLEDEK': m.r().choice(['negativní', 'pozitivní'])}),
    'VYSETRENI_NOVOTVARU_MZ': _patient_dated('VYSETRENI_NOVOTVARU_MZ', _lab_partner),
    'VYSETRENI_HISTOLOGIE': _patient_dated('VYSETRENI_HISTOLOGIE', _lab_partner),
    'REVERS': _patient_dated('REVERS'), 'MEZINARODNI_OSVEDCENI': _patient_dated('MEZINARODNI_OSVEDCENI', lambda m: {'CISLO': m.code('MEZ', 'CZ', 20)}),
    'PREMISTENI_ZVIRETE': b_premisteni, 'PREMISTENI_ZVIRETE_ZVI': b_premisteni_zvi, 'VARIANTA': b_varianta,
    'SABLONA_VYKONU': b_sablona, 'SABLONA_VYKONU_POLOZKA': b_sablona_polozka, 'PRIPAD': b_pripad,
    'DOKLAD': b_doklad, 'PARTNER_ZALOHA': b_zaloha, 'PARTNER_ZALOHA_CERPANI': b_cerpani,
    'DENNI_ZAZNAM': b_denni_zaznam,
    'DENNI_ZAZNAM_HODNOTA': b_dz_hodnota, 'DENNI_ZAZNAM_RECEPT': b_dz_recept, 'DZS_ZUB': b_zub,
    'KOPROLOGIE': b_koprologie, 'SOUBOR': b_soubor, 'VAKCINACE_ODCERVENI': b_vakcinace,
    'VARIANTA_SKLAD': b_varianta_sklad, 'VARIANTA_CENIK': b_varianta_cenik, 'VARIANTA_PARTNER': b_varianta_partner,
    'POHLEDAVKA': b_pohledavka, 'LABVH': b_labvh, 'LABVD': b_labvd, 'CESTA': b_cesta,
    'SKUPINA_OBRAZOVE_DOKUMENTACE': b_skupina_obr, 'OBRAZOVA_DOKUMENTACE': b_obrazova, 'ZADANKA': b_zadanka,
    'PRODEJKA': b_prodejka,
    'ORD_CINNOST': b_named('ORD_CINNOST', 'ORD_CINNOST_NAZEV', ['Ordinace', 'Operace', 'Návštěva', 'Konzultace']),
    'CIL_CESTY': b_cil_cesty, 'DODATEK': b_dodatek, 'FORMA_UHRADY': b_forma_uhrady, 'LABHODN': b_labhodn,
    'LAB_VAZBY': b_lab_vazby,
    'RTG_PROJEKCE': b_named('RTG_PROJEKCE', 'PROJEKCE', ['Laterolaterální', 'Ventrodorzální', 'Dorzoventrální']),
    'RTG_OBLAST': b_named('RTG_OBLAST', 'OBLAST', ['Hrudník', 'Břicho', 'Pánev', 'Lebka', 'Končetina']),
    'VYROBCE': b_named('VYROBCE', 'VYROBCE', ['Bioveta', 'Zoetis', 'MSD', 'Bayer', 'Krka']),
    'UMISTENI': b_named('UMISTENI', 'UMISTENI', ['Regál', 'Lednice', 'Skříň']),
    'OZNACENI_ZAZNAMU': b_named('OZNACENI_ZAZNAMU', 'OZNACENI_ZAZNAMU_NAZEV', ['Důležité', 'Kontrola', 'Dluh']),
    'ZPRAVA': b_zprava, 'RADA': b_rada, 'RADA_POLOZKA': b_rada_polozka, 'RADA_PORADOVE_CISLO': b_rada_cislo,
    'FRONTA': b_fronta, 'OBJ_PACIENTA': b_obj, 'ORD_DOBA': b_ord_doba, 'NASTAVENI': b_nastaveni,
    'TYP_ZADANKY': b_typ_zadanky, 'TEPLOTA_MISTO': b_teplota_misto, 'TEPLOTA': b_teplota, 'RADA_OJ': b_rada_oj,
}
for _k in ('FA', 'PD', 'UM', 'SK', 'BV', 'UZ'):
    BUILDERS['DOKLAD_POLOZKA_' + _k] = b_polozka(_k)
for _t in ('DENNI_ZAZNAM_OFTALMO', 'DENNI_ZAZNAM_ORTOPED', 'DENNI_ZAZNAM_STOMATO', 'DENNI_ZAZNAM_MEKKE_TKANE',
           'DENNI_ZAZNAM_PLAZI', 'DENNI_ZAZNAM_DROBNI_SAVCI'):
    BUILDERS[_t] = b_dz_detail(_t)

AFTER = {'PACIENT': after_pacient, 'DOKLAD': after_doklad, 'ZADANKA': after_zadanka}


def make_rows(m, table, count):
    made = 0
    for _ in range(count * 2):
        if made >= count:
            break
        values = BUILDERS[table](m)
        if values is None:
            continue
        row = m.add(table, values)
        if row is not None and table in AFTER:
            AFTER[table](m, row)
        made += 1
    return made


def build_main(tables, seed, size, today):
    practice = Practice(tables, today)
    m = Maker(practice, random.Random('%s-main' % seed), 'P', None)
    col = 0 if size == 'small' else 1
    for table in ORDER:
        make_rows(m, table, SIZES[table][col])
    # Journal rows of the main practice: one per partner and patient.
    for table in ('PARTNER', 'PACIENT'):
        for row in practice.rows[table]:
            add_journal(m, table, row, 'I')
    return practice, m


def add_journal(m, table, row, action):
    t = m.p.tables[table]
    key = row.get(t.pk[0]) if t.pk else None
    m.add('ZURNAL', {'TABULKA': table, 'ID_ZAZNAM': key, 'AKCE': action, 'UZIVATEL': USER,
                     'DATUM': datetime.datetime.combine(row.get('ZALOZENI_ZAZNAMU') or m.p.today, datetime.time(12, 0)),
                     'ID_UZIVATEL': m.user(), 'POZNAMKA': None,
                     'STANICE': 'HLAVNI' if m.origin in ('P', 'M') else 'STANICE ' + m.origin[1:]})


def change_counts(size, base):
    if size == 'small':
        return max(2, base // 5), max(2, base // 5)
    return max(3, (base * 4) // 10), max(3, (base * 35) // 100)


def build_changes(practice, tables, seed, size, origin, dropped_tables=(), dropped_columns=None):
    """Adds the rows and changes of a station (origin 'S<n>') or of the main database after
    the split (origin 'M') to practice; returns the Maker that holds them."""
    station = origin.startswith('S')
    m = Maker(practice, random.Random('%s-%s' % (seed, origin)), origin, 'I' if station else None,
              dropped_tables, dropped_columns)
    col = 0 if size == 'small' else 1
    for table in ORDER:
        if table in m.dropped_tables:
            continue
        base = SIZES[table][col]
        new, changed = change_counts(size, base)
        if not station:
            if table not in ('PARTNER', 'PACIENT', 'DOKLAD', 'DENNI_ZAZNAM', 'HODNOCENI', 'DIAGNOZA', 'CENIK', 'VARIANTA'):
                continue
            new, changed = max(1, new // 3), 0
        existing = list(practice.rows[table])
        if station and table in SHARED_KEYS:
            # The same natural key at every station: codes drawn from a generator that all
            # stations share, the rest of the row from the station's own one.
            saved_seq = practice.seq.get(table, 0)
            practice.seq[table] = 900000
            m.shared_rng = random.Random('%s-shared-%s' % (seed, table))
            make_rows(m, table, 1)
            m.shared_rng = None
            practice.seq[table] = saved_seq
            row = practice.rows[table][-1]
            # The shared row's payload comes from the station.
            for c in tables[table].columns:
                if c.name not in KEEP_COLUMNS and not c.name.startswith('ID') and c.name != 'ST' \
                        and c.kind in ('double', 'text') and row.get(c.name) is not None:
                    row[c.name] = m.value(c)
            new -= 1
        make_rows(m, table, new)
        # Rows with a key below 1 are placeholders that the play-in never reads.
        existing = [r for r in existing if not (len(tables[table].pk) == 1 and r[tables[table].pk[0]] < 1)]
        if station and existing:
            for i, row in enumerate(m.rng.sample(existing, min(changed, len(existing)))):
                m.update(table, row, touch_only=(i % 5 == 4))
    if station:
        for table, row in list(m.inserted):
            if table not in STATION_OWN and table != 'ZURNAL' and tables[table].column('ST') is not None:
                add_journal(m, table, row, 'I')
        for table, row, _ in m.updated:
            add_journal(m, table, row, 'U')
    return m


# ---------------------------------------------------------------------------------------
# SQL


def insert_sql(table, row, skip_columns=()):
    cols = [(n, v) for n, v in row.items() if v is not None and n not in skip_columns]
    names = ', '.join('"DO"' if n == 'DO' else n for n, _ in cols)
    return 'insert into %s (%s) values (%s);' % (table, names, ', '.join(sql_literal(v) for _, v in cols))


def update_sql(tables, table, row, changed, skip_columns=()):
    t = tables[table]
    sets = ', '.join('%s = %s' % ('"DO"' if n == 'DO' else n, sql_literal(v)) for n, v in changed.items() if n not in skip_columns)
    if not sets:
        return None
    where = ' and '.join('%s = %s' % (c, sql_literal(row[c])) for c in t.pk)
    return 'update %s set %s where %s;' % (table, sets, where)


def generator_sql(practice, generators, existing_only=None):
    out = []
    for g in generators:
        if existing_only is not None and g not in existing_only:
            continue
        out.append('set generator %s to %d;' % (g, practice.keys.get(g, 0)))
    return out


def script(body):
    return '\n'.join(['set autoddl off;', 'set bail on;', 'execute procedure SET_ZURNAL_TRIGGERS(0);'] + body +
                     ['execute procedure SET_ZURNAL_TRIGGERS(1);', 'commit;', ''])


def main_script(practice, maker, generators):
    body = [insert_sql(t, r) for t, r in maker.inserted]
    body += generator_sql(practice, generators)
    return script(body)


def changes_script(practice, maker, generators, dropped_tables=(), dropped_columns=None, dropped_generators=()):
    dropped_columns = dropped_columns or {}
    body = []
    for t, r in maker.inserted:
        if t not in dropped_tables:
            body.append(insert_sql(t, r, dropped_columns.get(t, ())))
    for t, r, changed in maker.updated:
        if t not in dropped_tables:
            s = update_sql(practice.tables, t, r, changed, dropped_columns.get(t, ()))
            if s:
                body.append(s)
    body += generator_sql(practice, [g for g in generators if g not in dropped_generators])
    return script(body)


# ---------------------------------------------------------------------------------------
# Databases


def isql(args, stdin=None, database=None, charset='UTF8'):
    cmd = ['isql-fb', '-q', '-user', USER, '-password', PASSWORD]
    if charset:
        cmd += ['-ch', charset]
    cmd += args
    if database:
        cmd.append(database)
    r = subprocess.run(cmd, input=stdin.encode('utf-8') if stdin is not None else None,
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if r.returncode != 0 or b'Statement failed' in r.stdout:
        raise RuntimeError('isql-fb failed on %s:\n%s' % (database, r.stdout.decode('utf-8', 'replace')[-4000:]))
    return r.stdout


def run_file(database, path):
    isql(['-bail', '-i', path], database=database)


def create_database(path, fixtures):
    local = ':' not in path.split('/')[0]
    if local and os.path.exists(path):
        os.remove(path)
    isql([], stdin="create database '%s' user '%s' password '%s' page_size 8192 default character set WIN1250;\n"
         % (path, USER, PASSWORD), charset=None)
    run_file(path, os.path.join(fixtures, 'practice_schema.sql'))
    run_file(path, os.path.join(fixtures, 'practice_objects.sql'))


def run_script(database, text, workdir):
    fd, path = tempfile.mkstemp(suffix='.sql', dir=workdir)
    with os.fdopen(fd, 'w', encoding='utf-8') as f:
        f.write(text)
    try:
        run_file(database, path)
    finally:
        os.remove(path)


def copy_database(source, target):
    """A station starts as a copy of the main database file."""
    if os.path.exists(target):
        os.remove(target)
    shutil.copyfile(source, target)


# ---------------------------------------------------------------------------------------
# Dump and checksum


def user_tables(database):
    out = isql(['-bail'], stdin='set list on;\nselect trim(rdb$relation_name) as N from rdb$relations '
               'where rdb$system_flag = 0 and rdb$view_blr is null order by 1;\n', database=database).decode('utf-8')
    return re.findall(r'^N\s+(\S+)\s*$', out, re.M)


def dump(database, fixtures=DEFAULT_FIXTURES):
    """The contents of every table ordered by its key, and the generator values: bytes that
    are equal for equal databases."""
    schema, _ = load_schema(fixtures)
    tables = user_tables(database)
    lines = ['set list on;', 'set blob all;']
    for t in tables:
        order = ', '.join(schema[t].pk) if t in schema and schema[t].pk else '1'
        lines.append("select '%s' as TABULKA_DUMP from rdb$database;" % t)
        lines.append('select * from %s order by %s;' % (t, order))
    lines.append("select trim(rdb$generator_name) as G from rdb$generators where rdb$system_flag = 0 order by 1;")
    out = isql(['-bail'], stdin='\n'.join(lines) + '\n', database=database)
    gens = re.findall(rb'^G\s+(\S+)\s*$', out, re.M)
    gen_lines = ['select gen_id(%s, 0) as %s from rdb$database;' % (g.decode(), g.decode()) for g in gens]
    if gen_lines:
        out += isql(['-bail'], stdin='set list on;\n' + '\n'.join(gen_lines) + '\n', database=database)
    # Blob ids differ between equal databases: keep the column name only.
    return re.sub(rb'^(\S+)\s+[0-9a-f]+:[0-9a-f]+\s*$', rb'\1 <blob>', out, flags=re.M)


def checksum(database, fixtures=DEFAULT_FIXTURES):
    return hashlib.sha256(dump(database, fixtures)).hexdigest()


# ---------------------------------------------------------------------------------------


def generate(args):
    fixtures = args.fixtures
    tables, generators = load_schema(fixtures)
    today = args.today
    work = os.path.dirname(os.path.abspath(args.main)) if ':' not in args.main.split('/')[0] else tempfile.gettempdir()
    practice, main_maker = build_main(tables, args.seed, args.size, today)
    snapshot = practice.copy()

    create_database(args.main, fixtures)
    run_script(args.main, main_script(practice, main_maker, generators), work)
    stats = {'main': len(main_maker.inserted)}

    station_versions = args.station_version or []
    for i, path in enumerate(args.station or [], start=1):
        version = station_versions[i - 1] if i - 1 < len(station_versions) else 200824
        dropped_tables, dropped_columns, dropped_generators = version_changes(fixtures, version)
        station_practice = snapshot.copy()
        maker = build_changes(station_practice, tables, args.seed, args.size, 'S%d' % i, dropped_tables, dropped_columns)
        copy_database(args.main, path)
        if version != 200824:
            run_file(path, os.path.join(fixtures, 'practice_version_%d.sql' % version))
        run_script(path, changes_script(station_practice, maker, generators, dropped_tables, dropped_columns,
                                                 dropped_generators), work)
        marked_new = sum(1 for t, r in maker.inserted if r.get('ST') is not None)
        stats['station%d' % i] = {'inserted': len(maker.inserted), 'updated': len(maker.updated),
                                  'changed_rows': marked_new + len({(t, id(r)) for t, r, _ in maker.updated}),
                                  'version': version}

    if not args.no_main_changes:
        after = build_changes(practice, tables, args.seed, args.size, 'M')
        run_script(args.main, changes_script(practice, after, generators), work)
        stats['main_after_split'] = len(after.inserted)
    return stats


def parse_date(text):
    return datetime.datetime.strptime(text, '%Y-%m-%d').date()


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    ap.add_argument('--seed', default='1', help='seed of all random choices (any text)')
    ap.add_argument('--size', choices=('small', 'large'), default='small')
    ap.add_argument('--main', help='main database to create (a plain path uses the embedded engine)')
    ap.add_argument('--station', action='append', help='station database to derive (repeatable)')
    ap.add_argument('--station-version', action='append', type=int, choices=VERSIONS,
                    help='schema version of the station at the same position (default 200824)')
    ap.add_argument('--today', type=parse_date, default=datetime.date.today(),
                    help='reference date YYYY-MM-DD (default: today)')
    ap.add_argument('--no-main-changes', action='store_true',
                    help='leave the main database as the stations were cut from it')
    ap.add_argument('--fixtures', default=DEFAULT_FIXTURES, help='directory of the schema scripts')
    ap.add_argument('--checksum', metavar='DB', help='print the checksum of a database dump and exit')
    ap.add_argument('--dump', metavar='DB', help='write the dump of a database to stdout and exit')
    ap.add_argument('--quiet', action='store_true')
    args = ap.parse_args(argv)
    try:
        if args.checksum:
            print(checksum(args.checksum, args.fixtures))
            return 0
        if args.dump:
            sys.stdout.buffer.write(dump(args.dump, args.fixtures))
            return 0
    except (RuntimeError, OSError) as e:
        print('generate.py: %s' % e, file=sys.stderr)
        return 1
    if not args.main:
        ap.error('--main is required')
    for path in [args.main] + (args.station or []):
        if re.match(r'^[^/]+:', path):
            # Stations are file copies of the main database, which a server would hold open.
            ap.error('%s: give a plain path (the embedded engine makes the databases)' % path)
    if args.station_version and len(args.station_version) > len(args.station or []):
        ap.error('more --station-version than --station')
    paths = [os.path.abspath(p) for p in [args.main] + (args.station or [])]
    if len(set(paths)) != len(paths):
        ap.error('the main database and every station need a file of their own')
    try:
        stats = generate(args)
    except (RuntimeError, OSError) as e:
        print('generate.py: %s' % e, file=sys.stderr)
        return 1
    if not args.quiet:
        for k, v in stats.items():
            print('%s: %s' % (k, v))
    return 0


if __name__ == '__main__':
    sys.exit(main())
