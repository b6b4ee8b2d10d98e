<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="sr_RS@latin">
<context>
    <name>ButtonDateTime</name>
    <message>
        <source>MM/dd/yyyy</source>
        <translation>dd.MM.yyyy</translation>
    </message>
    <message>
        <source>MM/dd/yyyy hh:mm</source>
        <translation>dd.MM.yyyy. hh:mm</translation>
    </message>
</context>
<context>
    <name>LiveIndicator</name>
    <message>
        <source>Live, updated %1</source>
        <translation>Uživo, osveženo %1</translation>
    </message>
</context>
<context>
    <name>PageDateTime</name>
    <message>
        <source>Accept</source>
        <translation>Prihvati</translation>
    </message>
    <message>
        <source>Day</source>
        <translation>Dan</translation>
    </message>
    <message>
        <source>Month</source>
        <translation>Mesec</translation>
    </message>
    <message>
        <source>Year</source>
        <translation>Godina</translation>
    </message>
    <message>
        <source>Hour</source>
        <translation>Sat</translation>
    </message>
    <message>
        <source>Minute</source>
        <translation>Minut</translation>
    </message>
</context>
<context>
    <name>PageDateTimeForm.ui</name>
    <message>
        <source>Accept</source>
        <translation>Prihvati</translation>
    </message>
    <message>
        <source>Day</source>
        <translation>Dan</translation>
    </message>
    <message>
        <source>Month</source>
        <translation>Mesec</translation>
    </message>
    <message>
        <source>Year</source>
        <translation>Godina</translation>
    </message>
    <message>
        <source>Hour</source>
        <translation>Sat</translation>
    </message>
    <message>
        <source>Minute</source>
        <translation>Minut</translation>
    </message>
</context>
<context>
    <name>PageDetail</name>
    <message>
        <source>Assign Calendar...</source>
        <translation>Dodeli kalendar...</translation>
    </message>
    <message>
        <source>Assign Exception...</source>
        <translation>Dodeli izuzetak...</translation>
    </message>
    <message>
        <source>Assign calendar '%1' to employee '%2' starting from %3?</source>
        <translation>Dodeliti kalendar '%1' zaposlenom '%2' počev od %3?</translation>
    </message>
    <message>
        <source>Assign working day '%1' to employee '%2' on %3?</source>
        <translation>Dodeliti radni dan '%1' zaposlenom '%2' za dan %3?</translation>
    </message>
    <message>
        <source>Confirmation</source>
        <translation>Potvrda</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Greška</translation>
    </message>
    <message>
        <source>Info</source>
        <translation>Obaveštenje</translation>
    </message>
    <message>
        <source>MM/dd/yyyy</source>
        <translation>dd.MM.yyyy</translation>
    </message>
</context>
<context>
    <name>PageDetailForm.ui</name>
    <message>
        <source>Assign</source>
        <translation>Dodeli</translation>
    </message>
    <message>
        <source>Calendar</source>
        <translation>Kalendar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Odustani</translation>
    </message>
    <message>
        <source>Day</source>
        <translation>Dan</translation>
    </message>
    <message>
        <source>Exception</source>
        <translation>Izuzetak</translation>
    </message>
    <message>
        <source>Working Day</source>
        <translation>Radni dan</translation>
    </message>
</context>
<context>
    <name>PageList</name>
    <message>
        <source>All</source>
        <translation>Svi</translation>
    </message>
    <message>
        <source>MM/dd/yyyy hh:mm</source>
        <translation>dd.MM.yyyy. hh:mm</translation>
    </message>
</context>
<context>
    <name>PageListForm.ui</name>
    <message>
        <source>Filter</source>
        <translation>Filter</translation>
    </message>
</context>
<context>
    <name>PageLogin</name>
    <message>
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Korisnik</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Lozinka</translation>
    </message>
    <message>
        <source>Save password</source>
        <translation>Zapamti lozinku</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Povezivanje</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Greška</translation>
    </message>
    <message>
        <source>Bad username and/or password.</source>
        <translation>Loše korisničko ime i/ili lozinka.</translation>
    </message>
</context>
<context>
    <name>PageLoginForm.ui</name>
    <message>
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Korisnik</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Lozinka</translation>
    </message>
    <message>
        <source>Save password</source>
        <translation>Zapamti lozinku</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Povezivanje</translation>
    </message>
</context>
<context>
    <name>PageSettings</name>
    <message>
        <source>Dark</source>
        <translation>Tamna</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>Svetla</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Jezik</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>Tema</translation>
    </message>
</context>
<context>
    <name>SessionOnlyNote</name>
    <message>
        <source>No secret store answered: the password is kept for this session only.</source>
        <translation>Nijedno skladište tajni nije odgovorilo: lozinka se čuva samo do kraja ove sesije.</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Settings...</source>
        <translation>Podešavanja...</translation>
    </message>
    <message>
        <source>About...</source>
        <translation>O programu...</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Izlaz</translation>
    </message>
</context>
</TS>
