#!/usr/bin/env python3
"""Writes the example organisation's CSV files next to this script: three departments, twenty
employees, the statuses, activities, calendars and working-day kinds, and November 2026's
registrations (weekday arrivals and departures, a business trip, sick days, and one night shift
that crosses midnight). The same script always writes the same files.

    python3 docs/example-organisation/generate.py
"""
import csv
import datetime
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))

DEPARTMENTS = ["Prodaja", "Development", "Finance, Legal"]
STATUSES = [("Present", "#2E7D32", "yes"), ("Absent", "#9E9E9E", "no"),
            ("On business trip", "#1565C0", "yes"), ("Sick leave", "#C62828", "no")]
ACTIVITIES = [("Arrival", "Present"), ("Departure", "Absent"),
              ("Business trip", "On business trip"), ("Sick leave", "Sick leave")]
CALENDARS = [("Standard", "#1976D2"), ("Shift work", "#F57C00")]
WORKDAYS = [("Holiday", "#C62828"), ("Vacation", "#6A1B9A")]
EMPLOYEES = [
    ("E001", "Đorđević", "Đorđe", "Prodaja", "pictures/e001.jpg"),
    ("E002", "Šćepanović", "Milica", "Prodaja", "pictures/e002.png"),
    ("E003", "Smith", "Anna", "Development", "pictures/e003.jpg"),
    ("E004", "Ćirić", "Čedomir", "Prodaja", ""),
    ("E005", "Žarković", "Ljubica", "Development", ""),
    ("E006", "O'Brien", "Patrick", "Development", ""),
    ("E007", "Smith, Jr.", "John", "Finance, Legal", ""),
    ("E008", "Petrović", "Nemanja", "Prodaja", ""),
    ("E009", "Jovanović", "Jelena", "Finance, Legal", ""),
    ("E010", "Miller", "Grace", "Development", ""),
    ("E011", "Nikolić", "Dušan", "Development", ""),
    ("E012", "Brown", "Oliver", "Finance, Legal", ""),
    ("E013", "Stojanović", "Tijana", "Prodaja", ""),
    ("E014", "Marković", "Željko", "Development", ""),
    ("E015", "Taylor", "Emily", "Prodaja", ""),
    ("E016", "Kovačević", "Ana", "Finance, Legal", ""),
    ("E017", "Ilić", "Bojan", "Development", ""),
    ("E018", "Wilson", "James", "Finance, Legal", ""),
    ("E019", "Pavlović", "Snežana", "Prodaja", ""),
    ("E020", "Lukić", "Đurađ", "Development", ""),
]


def write(name, header, rows):
    with open(os.path.join(HERE, name), "w", newline="", encoding="utf-8") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(header)
        writer.writerows(rows)


def at(day, hour, minute, second=None):
    moment = datetime.datetime.combine(day, datetime.time(hour, minute, second or 0))
    return moment.strftime("%Y-%m-%d %H:%M:%S" if second is not None else "%Y-%m-%d %H:%M")


def registrations():
    rng = random.Random(2026)
    rows = []
    for (employee, *_rest) in EMPLOYEES:
        for number in range(1, 31):
            day = datetime.date(2026, 11, number)
            if day.weekday() >= 5:
                continue
            if employee == "E004" and number in (16, 17, 18):
                if number == 16:
                    rows.append((employee, at(day, 7, 45), "Sick leave"))
                continue
            if employee == "E009" and number == 24:
                rows.append((employee, at(day, 9, 0), "Business trip"))
                continue
            if employee == "E005" and number == 12:
                # The night shift: in at ten in the evening, out at six the next morning.
                rows.append((employee, at(day, 22, 0), "Arrival"))
                rows.append((employee, at(day + datetime.timedelta(days=1), 6, 0), "Departure"))
                continue
            if employee == "E005" and number == 13:
                continue
            arrival = at(day, 7 + rng.randint(0, 1), rng.randint(0, 59), rng.randint(0, 59) if number == 2 else None)
            departure = at(day, 15 + rng.randint(0, 2), rng.randint(0, 59))
            rows.append((employee, arrival, "Arrival"))
            rows.append((employee, departure, "Departure"))
    rows.sort(key=lambda row: (row[1], row[0]))
    return rows


def main():
    write("departments.csv", ["name"], [[name] for name in DEPARTMENTS])
    write("statuses.csv", ["name", "color", "present"], STATUSES)
    write("activities.csv", ["name", "status"], ACTIVITIES)
    write("calendars.csv", ["name", "color"], CALENDARS)
    write("workdays.csv", ["name", "color"], WORKDAYS)
    write("employees.csv", ["id", "last_name", "first_name", "department", "picture"], EMPLOYEES)
    write("registrations.csv", ["employee", "at", "activity"], registrations())


if __name__ == "__main__":
    main()
