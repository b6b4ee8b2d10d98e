#pragma once
// Names for demo employees and departments: mostly Serbian, some English.

#include <QStringList>

namespace vorna::service::demonames {

inline const QStringList serbianLastNames = {
    QStringLiteral("Petrović"),  QStringLiteral("Đorđević"),  QStringLiteral("Jovanović"), QStringLiteral("Nikolić"),
    QStringLiteral("Marković"),  QStringLiteral("Ilić"),      QStringLiteral("Stojanović"), QStringLiteral("Pavlović"),
    QStringLiteral("Milošević"), QStringLiteral("Stanković"), QStringLiteral("Lazić"),     QStringLiteral("Popović"),
    QStringLiteral("Živković"),  QStringLiteral("Kovačević"), QStringLiteral("Todorović"), QStringLiteral("Savić"),
    QStringLiteral("Ristić"),    QStringLiteral("Mitrović"),  QStringLiteral("Janković"),  QStringLiteral("Kostić"),
    QStringLiteral("Obradović"), QStringLiteral("Vasić"),     QStringLiteral("Đukić"),     QStringLiteral("Čolić"),
    QStringLiteral("Šarić"),     QStringLiteral("Knežević"),  QStringLiteral("Tomić"),     QStringLiteral("Simić"),
    QStringLiteral("Bogdanović"), QStringLiteral("Filipović"), QStringLiteral("Lukić"),    QStringLiteral("Mladenović"),
    QStringLiteral("Stevanović"), QStringLiteral("Perić"),    QStringLiteral("Gajić"),     QStringLiteral("Vuković"),
    QStringLiteral("Zdravković"), QStringLiteral("Ćirić"),    QStringLiteral("Radosavljević"), QStringLiteral("Dimitrijević")};

inline const QStringList serbianFirstNames = {
    QStringLiteral("Ana"),     QStringLiteral("Marko"),   QStringLiteral("Jelena"),   QStringLiteral("Nikola"),
    QStringLiteral("Milica"),  QStringLiteral("Stefan"),  QStringLiteral("Jovana"),   QStringLiteral("Luka"),
    QStringLiteral("Ivana"),   QStringLiteral("Aleksandar"), QStringLiteral("Marija"), QStringLiteral("Miloš"),
    QStringLiteral("Tijana"),  QStringLiteral("Nemanja"), QStringLiteral("Dragana"),  QStringLiteral("Vuk"),
    QStringLiteral("Sanja"),   QStringLiteral("Đorđe"),   QStringLiteral("Katarina"), QStringLiteral("Dušan"),
    QStringLiteral("Teodora"), QStringLiteral("Filip"),   QStringLiteral("Mina"),     QStringLiteral("Uroš"),
    QStringLiteral("Snežana"), QStringLiteral("Bojan"),   QStringLiteral("Nataša"),   QStringLiteral("Vladimir"),
    QStringLiteral("Ljiljana"), QStringLiteral("Željko"), QStringLiteral("Maja"),     QStringLiteral("Goran")};

inline const QStringList englishLastNames = {
    QStringLiteral("Smith"),  QStringLiteral("Johnson"), QStringLiteral("Williams"), QStringLiteral("Brown"),
    QStringLiteral("Jones"),  QStringLiteral("Miller"),  QStringLiteral("Davis"),    QStringLiteral("Wilson"),
    QStringLiteral("Taylor"), QStringLiteral("Clarke"),  QStringLiteral("Walker"),   QStringLiteral("Wright"),
    QStringLiteral("Hughes"), QStringLiteral("Green"),   QStringLiteral("Hall"),     QStringLiteral("Wood")};

inline const QStringList englishFirstNames = {
    QStringLiteral("James"),  QStringLiteral("Emma"),    QStringLiteral("Oliver"),  QStringLiteral("Sophie"),
    QStringLiteral("Thomas"), QStringLiteral("Charlotte"), QStringLiteral("Jack"),  QStringLiteral("Emily"),
    QStringLiteral("Harry"),  QStringLiteral("Grace"),   QStringLiteral("George"),  QStringLiteral("Lucy"),
    QStringLiteral("William"), QStringLiteral("Hannah"), QStringLiteral("Daniel"),  QStringLiteral("Olivia")};

// With a relative size each: production is the largest.
struct DepartmentShare
{
    QString name;
    int weight;
};

inline const QVector<DepartmentShare> departments = {
    {QStringLiteral("Production"), 30}, {QStringLiteral("Logistics"), 14}, {QStringLiteral("Sales"), 12},
    {QStringLiteral("Maintenance"), 10}, {QStringLiteral("Quality Control"), 9}, {QStringLiteral("Finance"), 8},
    {QStringLiteral("IT"), 9},          {QStringLiteral("Human Resources"), 8}};

} // namespace vorna::service::demonames
