<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="sr_RS@latin">
<context>
    <name>TestTexts</name>
    <message>
        <source>Hello</source>
        <translation>Zdravo</translation>
    </message>
</context>
</TS>
