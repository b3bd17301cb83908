<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU" sourcelanguage="en_US">
<context>
    <name>Lumaro1CDriverNative</name>
    <message>
        <source>Driver for Aclas self service scale.</source>
        <translation>Драйвер для сенсорных весов Aclas.</translation>
    </message>
    <message>
        <source>ScaleWithPrintLabels</source>
        <translation>ВесыСПечатьюЭтикеток</translation>
    </message>
    <message>
        <source>Scale test success.</source>
        <translation>Тест весов выполнен успешно.</translation>
    </message>
    <message>
        <source>Try connect to scale: IP: %1. Port: %2.</source>
        <translation>Попытка соединения с весами: IP: %1. Порт: %2.</translation>
    </message>
    <message>
        <source>Scale did not clear its old goods (%1): goods no longer in the catalogue may remain</source>
        <translation>Весы не удалили старые товары (%1): товары, которых уже нет в каталоге, могут остаться на весах</translation>
    </message>
    <message>
        <source>Uploading goods to scale: %1 of %2</source>
        <translation>Выгрузка товаров в весы: %1 из %2</translation>
    </message>
    <message>
        <source>Connection to scale lost, retry %1 of %2</source>
        <translation>Связь с весами потеряна, повтор %1 из %2</translation>
    </message>
    <message>
        <source>Goods uploaded to scale: %1 of %2</source>
        <translation>Товары выгружены в весы: %1 из %2</translation>
    </message>
    <message>
        <source>Goods upload to scale failed: %1</source>
        <translation>Выгрузка товаров в весы не удалась: %1</translation>
    </message>
</context>
</TS>
