<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>Startup</name>
    <message>
        <source>Software is already running.</source>
        <translation>Программа уже запущена.</translation>
    </message>
</context>
</TS>
