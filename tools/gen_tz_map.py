#!/usr/bin/python3
"""Generate lib/sys/m_time_zone_map.cpp, the zone-name table.

Source: Unicode CLDR's windowsZones mapping as shipped by Debian's
python3-tzlocal package (module tzlocal.windows_tz): tz_win maps every zone
database name to its Windows zone name, win_tz maps every Windows zone name
to its main zone (CLDR territory "001").

Run with the system interpreter (apt-get install python3-tzlocal first):
    /usr/bin/python3 tools/gen_tz_map.py > lib/sys/m_time_zone_map.cpp
The table's shape is fixed: Windows names and zone database names that the
mapping gained after zone loading was built are left out (the two lists
below), so the table does not grow or shrink with the package's version.
"""
import sys

import tzlocal.windows_tz as wz

REGIONS = {
    "Africa": "M_TIME_TZ_REGION_AFRICA",
    "America": "M_TIME_TZ_REGION_AMERICA",
    "Antarctica": "M_TIME_TZ_REGION_ANTARCTICA",
    "Arctic": "M_TIME_TZ_REGION_ARCTIC",
    "Asia": "M_TIME_TZ_REGION_ASIA",
    "Atlantic": "M_TIME_TZ_REGION_ATLANTIC",
    "Australia": "M_TIME_TZ_REGION_AUSTRALIA",
    "Europe": "M_TIME_TZ_REGION_EUROPE",
    "Indian": "M_TIME_TZ_REGION_INDIAN",
    "Pacific": "M_TIME_TZ_REGION_PACIFIC",
    "Etc": "M_TIME_TZ_REGION_ETC",
}


HEADER = """/* Zone database names mapped to Windows zone names.
 *
 * Taken from Unicode CLDR's windowsZones mapping (Debian package
 * python3-tzlocal, module tzlocal.windows_tz): %d rows, %d Windows names,
 * sorted by zone database name (bytewise). main is 1 on the one row holding
 * each Windows name's main zone (CLDR territory 001). Only names inside the
 * region folders are kept (no US/..., Canada/..., EST5EDT aliases).
 *
 * The table's shape is fixed: it holds the Windows names and zone database
 * names that zone loading was built for, and names the mapping gained later
 * are left out, so the table does not grow or shrink with the version of the
 * data package. tools/gen_tz_map.py prints the package's full mapping; this
 * table is that output without the rows of these Windows names:
 *   Aleutian Standard Time, Altai Standard Time, Astrakhan Standard Time,
 *   Aus Central W. Standard Time, Belarus Standard Time,
 *   Bougainville Standard Time, Chatham Islands Standard Time,
 *   Cuba Standard Time, Easter Island Standard Time,
 *   Eastern Standard Time (Mexico), Haiti Standard Time,
 *   Line Islands Standard Time, Lord Howe Standard Time,
 *   Magallanes Standard Time, Marquesas Standard Time, Norfolk Standard Time,
 *   North Korea Standard Time, Omsk Standard Time, Qyzylorda Standard Time,
 *   Russia Time Zone 10, Russia Time Zone 11, Russia Time Zone 3,
 *   Saint Pierre Standard Time, Sakhalin Standard Time,
 *   Sao Tome Standard Time, Saratov Standard Time, South Sudan Standard Time,
 *   Sudan Standard Time, Tocantins Standard Time, Tomsk Standard Time,
 *   Transbaikal Standard Time, Turks And Caicos Standard Time, UTC+13,
 *   UTC-08, UTC-09, Volgograd Standard Time, W. Mongolia Standard Time,
 *   West Bank Standard Time, Yukon Standard Time.
 * and without these zone database names:
 *   America/Creston, America/Fort_Nelson, America/Kralendijk,
 *   America/Lower_Princes, America/Metlakatla, Asia/Atyrau, Asia/Famagusta,
 *   Asia/Khandyga, Asia/Qostanay, Asia/Ust-Nera, Europe/Busingen,
 *   Europe/Kirov.
 */
"""

# Windows names whose rows are left out.
EXCLUDED_WINDOWS = {
    "Aleutian Standard Time",
    "Altai Standard Time",
    "Astrakhan Standard Time",
    "Aus Central W. Standard Time",
    "Belarus Standard Time",
    "Bougainville Standard Time",
    "Chatham Islands Standard Time",
    "Cuba Standard Time",
    "Easter Island Standard Time",
    "Eastern Standard Time (Mexico)",
    "Haiti Standard Time",
    "Line Islands Standard Time",
    "Lord Howe Standard Time",
    "Magallanes Standard Time",
    "Marquesas Standard Time",
    "Norfolk Standard Time",
    "North Korea Standard Time",
    "Omsk Standard Time",
    "Qyzylorda Standard Time",
    "Russia Time Zone 10",
    "Russia Time Zone 11",
    "Russia Time Zone 3",
    "Saint Pierre Standard Time",
    "Sakhalin Standard Time",
    "Sao Tome Standard Time",
    "Saratov Standard Time",
    "South Sudan Standard Time",
    "Sudan Standard Time",
    "Tocantins Standard Time",
    "Tomsk Standard Time",
    "Transbaikal Standard Time",
    "Turks And Caicos Standard Time",
    "UTC+13",
    "UTC-08",
    "UTC-09",
    "Volgograd Standard Time",
    "W. Mongolia Standard Time",
    "West Bank Standard Time",
    "Yukon Standard Time",
}

# Zone database names left out.
EXCLUDED_ZONES = {
    "America/Creston",
    "America/Fort_Nelson",
    "America/Kralendijk",
    "America/Lower_Princes",
    "America/Metlakatla",
    "Asia/Atyrau",
    "Asia/Famagusta",
    "Asia/Khandyga",
    "Asia/Qostanay",
    "Asia/Ust-Nera",
    "Europe/Busingen",
    "Europe/Kirov",
}


def main():
    tz_win = wz.tz_win
    win_tz = wz.win_tz
    rows = []
    for zone in sorted(tz_win):
        win = tz_win[zone]
        prefix = zone.split("/", 1)[0] if "/" in zone else ""
        region = REGIONS.get(prefix)
        # Every row carries a region: the package's extra compatibility
        # names outside the region folders (US/..., Canada/..., EST5EDT)
        # are left out; no main zone lives there.
        if region is None or win in EXCLUDED_WINDOWS or zone in EXCLUDED_ZONES:
            continue
        main_row = 1 if win_tz.get(win) == zone else 0
        rows.append((zone, win, region, main_row))

    # Exactly one main row per Windows name, and every Windows name present.
    wins = {r[1] for r in rows}
    mains = [r[1] for r in rows if r[3]]
    if len(mains) != len(set(mains)) or set(mains) != wins:
        sys.exit("main rows do not match the Windows names")

    out = sys.stdout
    out.write(HEADER % (len(rows), len(wins)))
    out.write('#include "sys/m_time.h"\n\n')
    out.write("extern \"C\" {\n\n")
    out.write("const M_time_tz_zone_map_t M_time_tz_zone_map[] = {\n")
    for zone, win, region, main_row in rows:
        out.write('\t{ "%s", "%s", %s, %d },\n' % (zone, win, region, main_row))
    out.write("\t{ nullptr, nullptr, 0, 0 }\n")
    out.write("};\n\n")
    out.write("} // extern \"C\"\n\n")
    out.write("static_assert(sizeof(M_time_tz_zone_map) / sizeof(M_time_tz_zone_map[0]) == %d + 1,\n" % len(rows))
    out.write('              "zone map rows plus the end row");\n')


if __name__ == "__main__":
    main()
