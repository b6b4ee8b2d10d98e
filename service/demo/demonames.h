#pragma once
// Names for demo employees and departments: mostly Serbian, some English.

#include <QStringList>

namespace vorna::service::demonames {

// The names of one language. First names are split by sex, so portraits can fit them.
struct NamePool
{
    QStringList lastNames;
    QStringList femaleFirstNames;
    QStringList maleFirstNames;

    int firstNameCount() const { return femaleFirstNames.size() + maleFirstNames.size(); }
    // How many different full names the pool can give.
    int size() const { return lastNames.size() * firstNameCount(); }
};

inline const NamePool serbian = {
    {QStringLiteral("Petrović"),  QStringLiteral("Đorđević"),  QStringLiteral("Jovanović"), QStringLiteral("Nikolić"),
    QStringLiteral("Marković"),  QStringLiteral("Ilić"),      QStringLiteral("Stojanović"), QStringLiteral("Pavlović"),
    QStringLiteral("Milošević"), QStringLiteral("Stanković"), QStringLiteral("Lazić"),     QStringLiteral("Popović"),
    QStringLiteral("Živković"),  QStringLiteral("Kovačević"), QStringLiteral("Todorović"), QStringLiteral("Savić"),
    QStringLiteral("Ristić"),    QStringLiteral("Mitrović"),  QStringLiteral("Janković"),  QStringLiteral("Kostić"),
    QStringLiteral("Obradović"), QStringLiteral("Vasić"),     QStringLiteral("Đukić"),     QStringLiteral("Čolić"),
    QStringLiteral("Šarić"),     QStringLiteral("Knežević"),  QStringLiteral("Tomić"),     QStringLiteral("Simić"),
    QStringLiteral("Bogdanović"), QStringLiteral("Filipović"), QStringLiteral("Lukić"),    QStringLiteral("Mladenović"),
    QStringLiteral("Stevanović"), QStringLiteral("Perić"),    QStringLiteral("Gajić"),     QStringLiteral("Vuković"),
    QStringLiteral("Zdravković"), QStringLiteral("Ćirić"),    QStringLiteral("Radosavljević"), QStringLiteral("Dimitrijević")},
    {QStringLiteral("Ana"), QStringLiteral("Jelena"), QStringLiteral("Milica"), QStringLiteral("Jovana"),
        QStringLiteral("Ivana"), QStringLiteral("Marija"), QStringLiteral("Tijana"), QStringLiteral("Dragana"),
        QStringLiteral("Sanja"), QStringLiteral("Katarina"), QStringLiteral("Teodora"), QStringLiteral("Mina"),
        QStringLiteral("Snežana"), QStringLiteral("Nataša"), QStringLiteral("Ljiljana"),
        QStringLiteral("Maja")},
    {QStringLiteral("Marko"), QStringLiteral("Nikola"), QStringLiteral("Stefan"), QStringLiteral("Luka"),
        QStringLiteral("Aleksandar"), QStringLiteral("Miloš"), QStringLiteral("Nemanja"),
        QStringLiteral("Vuk"), QStringLiteral("Đorđe"), QStringLiteral("Dušan"), QStringLiteral("Filip"),
        QStringLiteral("Uroš"), QStringLiteral("Bojan"), QStringLiteral("Vladimir"), QStringLiteral("Željko"),
        QStringLiteral("Goran")}};

inline const NamePool english = {
    {QStringLiteral("Smith"),  QStringLiteral("Johnson"), QStringLiteral("Williams"), QStringLiteral("Brown"),
    QStringLiteral("Jones"),  QStringLiteral("Miller"),  QStringLiteral("Davis"),    QStringLiteral("Wilson"),
    QStringLiteral("Taylor"), QStringLiteral("Clarke"),  QStringLiteral("Walker"),   QStringLiteral("Wright"),
    QStringLiteral("Hughes"), QStringLiteral("Green"),   QStringLiteral("Hall"),     QStringLiteral("Wood")},
    {QStringLiteral("Emma"), QStringLiteral("Sophie"), QStringLiteral("Charlotte"), QStringLiteral("Emily"),
        QStringLiteral("Grace"), QStringLiteral("Lucy"), QStringLiteral("Hannah"), QStringLiteral("Olivia")},
    {QStringLiteral("James"), QStringLiteral("Oliver"), QStringLiteral("Thomas"), QStringLiteral("Jack"),
        QStringLiteral("Harry"), QStringLiteral("George"), QStringLiteral("William"), QStringLiteral("Daniel")}};

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
