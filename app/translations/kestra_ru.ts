<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>CAddServer</name>
    <message>
        <source>Add Server</source>
        <translation>Добавить сервер</translation>
    </message>
    <message>
        <source>Enter server name: &lt;servername&gt;:&lt;port&gt;</source>
        <translation>Введите имя сервера: &lt;имя_сервера&gt;:&lt;порт&gt;</translation>
    </message>
</context>
<context>
    <name>CDoseReportDialog</name>
    <message>
        <source>Read the thresholds from the attached instrument</source>
        <translation>Прочитать пороги из подключённого прибора</translation>
    </message>
    <message>
        <source>Dose Report</source>
        <translation>Отчёт о дозе</translation>
    </message>
    <message>
        <source>Instrument:</source>
        <translation>Прибор:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>С:</translation>
    </message>
    <message>
        <source>To:</source>
        <translation>По:</translation>
    </message>
    <message>
        <source>Paper:</source>
        <translation>Бумага:</translation>
    </message>
    <message>
        <source>Print Pre&amp;view...</source>
        <translation>Пред&amp;варительный просмотр...</translation>
    </message>
    <message>
        <source>Save as &amp;PDF...</source>
        <translation>Сохранить в &amp;PDF...</translation>
    </message>
</context>
<context>
    <name>CEditComment</name>
    <message>
        <source>Edit comment to selected event</source>
        <translation>Изменить комментарий к выбранному событию</translation>
    </message>
</context>
<context>
    <name>CEnterNewPassword</name>
    <message>
        <source>New password</source>
        <translation>Новый пароль</translation>
    </message>
    <message>
        <source>Enter new password:</source>
        <translation>Введите новый пароль:</translation>
    </message>
    <message>
        <source>Confirm new password:</source>
        <translation>Подтвердите новый пароль:</translation>
    </message>
    <message>
        <source>Error!</source>
        <translation>Ошибка!</translation>
    </message>
    <message>
        <source>Error: Incorrect password!</source>
        <translation>Ошибка: неверный пароль!</translation>
    </message>
    <message>
        <source>Password has been changed successfully!</source>
        <translation>Пароль успешно изменён!</translation>
    </message>
</context>
<context>
    <name>CEnterPassword</name>
    <message>
        <source>Authorization check</source>
        <translation>Авторизация</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Пароль:</translation>
    </message>
</context>
<context>
    <name>CKESTRADevView</name>
    <message>
        <source>Operation confirmation</source>
        <translation>Подтверждение операции</translation>
    </message>
    <message>
        <source>This name already exists. Do you want to rename?</source>
        <translation>Такое имя уже существует. Переименовать?</translation>
    </message>
    <message>
        <source>Database Error!</source>
        <translation>Ошибка базы данных!</translation>
    </message>
    <message>
        <source>Re&amp;name</source>
        <translation>&amp;Переименовать</translation>
    </message>
    <message>
        <source>&amp;Export</source>
        <translation>&amp;Экспорт</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Загрузить</translation>
    </message>
</context>
<context>
    <name>CKESTRADoc</name>
    <message>
        <source>Connecting to the server</source>
        <translation>Подключение к серверу</translation>
    </message>
    <message>
        <source>Opening the event database</source>
        <translation>Открытие базы данных событий</translation>
    </message>
    <message>
        <source>Checking the password</source>
        <translation>Проверка пароля</translation>
    </message>
    <message>
        <source>Writing instrument settings</source>
        <translation>Запись настроек прибора</translation>
    </message>
    <message>
        <source>Archiving</source>
        <translation>Архивирование</translation>
    </message>
    <message>
        <source>Closing the instrument&apos;s port</source>
        <translation>Закрытие порта прибора</translation>
    </message>
    <message>
        <source>No event database is open.</source>
        <translation>База данных событий не открыта.</translation>
    </message>
    <message>
        <source>Connecting to the instrument</source>
        <translation>Подключение к прибору</translation>
    </message>
    <message>
        <source>Reading instrument settings</source>
        <translation>Чтение настроек прибора</translation>
    </message>
    <message>
        <source>%1 - Local mode. Connected to instrument &apos;%2&apos;</source>
        <translation>%1 - Локальный режим. Подключён прибор «%2»</translation>
    </message>
    <message>
        <source>%1 - Local mode. Not connected</source>
        <translation>%1 - Локальный режим. Нет подключения</translation>
    </message>
    <message>
        <source>Database Error!</source>
        <translation>Ошибка базы данных!</translation>
    </message>
    <message>
        <source>History reading</source>
        <translation>Чтение истории</translation>
    </message>
    <message>
        <source>Error!</source>
        <translation>Ошибка!</translation>
    </message>
    <message>
        <source>Error during connection to database!</source>
        <translation>Ошибка подключения к базе данных!</translation>
    </message>
    <message>
        <source>Attention!</source>
        <translation>Внимание!</translation>
    </message>
    <message>
        <source>COM port is not detected.
Do you want to check program settings?</source>
        <translation>COM-порт не обнаружен.
Проверить настройки программы?</translation>
    </message>
    <message>
        <source>Can&apos;t connect to server &apos;%1&apos;. Error %2.
Check program settings</source>
        <translation>Не удаётся подключиться к серверу «%1». Ошибка %2.
Проверьте настройки программы</translation>
    </message>
    <message>
        <source>Data reading</source>
        <translation>Чтение данных</translation>
    </message>
    <message>
        <source>Data writing</source>
        <translation>Запись данных</translation>
    </message>
    <message>
        <source>The document cannot be read: %1</source>
        <translation>Не удаётся прочитать документ: %1</translation>
    </message>
    <message>
        <source>The document cannot be written: %1</source>
        <translation>Не удаётся записать документ: %1</translation>
    </message>
    <message>
        <source>%1 - Remote mode. Connected to server &apos;%2&apos;</source>
        <translation>%1 - Удалённый режим. Подключён сервер «%2»</translation>
    </message>
    <message>
        <source>%1 - Remote mode. Not connected</source>
        <translation>%1 - Удалённый режим. Нет подключения</translation>
    </message>
    <message>
        <source>Incorrect password!</source>
        <translation>Неверный пароль!</translation>
    </message>
    <message>
        <source>The comment of %1 was not stored: it %2</source>
        <translation>Комментарий к %1 не сохранён: он %2</translation>
    </message>
    <message>
        <source>The station %1 did not store the comment of %2</source>
        <translation>Станция %1 не сохранила комментарий к %2</translation>
    </message>
</context>
<context>
    <name>CKESTRAView</name>
    <message>
        <source>Progress</source>
        <translation>Ход выполнения</translation>
    </message>
</context>
<context>
    <name>CMainFrame</name>
    <message>
        <source>another operation is in progress</source>
        <translation>выполняется другая операция</translation>
    </message>
    <message>
        <source>The list could not be printed to %1.</source>
        <translation>Не удалось напечатать список на %1.</translation>
    </message>
    <message>
        <source>&amp;Import History	Ctrl+I</source>
        <translation>&amp;Импорт истории	Ctrl+I</translation>
    </message>
    <message>
        <source>Import history from file</source>
        <translation>Импортировать историю из файла</translation>
    </message>
    <message>
        <source>&amp;Export History	Ctrl+E</source>
        <translation>&amp;Экспорт истории	Ctrl+E</translation>
    </message>
    <message>
        <source>Export history to file</source>
        <translation>Экспортировать историю в файл</translation>
    </message>
    <message>
        <source>&amp;Save History As...	Ctrl+S</source>
        <translation>&amp;Сохранить историю как...	Ctrl+S</translation>
    </message>
    <message>
        <source>Download History	Ctrl+D</source>
        <translation>Загрузить историю	Ctrl+D</translation>
    </message>
    <message>
        <source>Download history to from remote computer</source>
        <translation>Загрузить историю с удалённого компьютера</translation>
    </message>
    <message>
        <source>Download History from remote</source>
        <translation>Загрузить историю с удалённого компьютера</translation>
    </message>
    <message>
        <source>&amp;Print...	Ctrl+P</source>
        <translation>&amp;Печать...	Ctrl+P</translation>
    </message>
    <message>
        <source>Print history/nPrint  history</source>
        <translation>Печать истории/nПечать  истории</translation>
    </message>
    <message>
        <source>Print Pre&amp;view	Ctrl+V</source>
        <translation>Пред&amp;варительный просмотр	Ctrl+V</translation>
    </message>
    <message>
        <source>Preview history</source>
        <translation>Предварительный просмотр истории</translation>
    </message>
    <message>
        <source>&amp;Archive Database	Ctrl+A</source>
        <translation>&amp;Архивировать базу данных	Ctrl+A</translation>
    </message>
    <message>
        <source>Move all events to archive database</source>
        <translation>Перенести все события в архивную базу данных</translation>
    </message>
    <message>
        <source>Vie&amp;w Archive Database	Ctrl+W</source>
        <translation>Просмотр а&amp;рхива	Ctrl+W</translation>
    </message>
    <message>
        <source>View archive database</source>
        <translation>Просмотреть архивную базу данных</translation>
    </message>
    <message>
        <source>Swi&amp;tch to Main Database	Ctrl+T</source>
        <translation>Перейти к &amp;основной базе данных	Ctrl+T</translation>
    </message>
    <message>
        <source>Switch to main database</source>
        <translation>Перейти к основной базе данных</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>В&amp;ыход</translation>
    </message>
    <message>
        <source>Exit the program</source>
        <translation>Выйти из программы</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Выход</translation>
    </message>
    <message>
        <source>On&amp;line Mode	Ctrl+L</source>
        <translation>Режим &amp;онлайн	Ctrl+L</translation>
    </message>
    <message>
        <source>Online Mode</source>
        <translation>Режим онлайн</translation>
    </message>
    <message>
        <source>Read &amp;History	Ctrl+H</source>
        <translation>Прочитать &amp;историю	Ctrl+H</translation>
    </message>
    <message>
        <source>Read history from instrument</source>
        <translation>Прочитать историю из прибора</translation>
    </message>
    <message>
        <source>Read history</source>
        <translation>Прочитать историю</translation>
    </message>
    <message>
        <source>Edit Co&amp;mment	Ctrl+M</source>
        <translation>Изменить &amp;комментарий	Ctrl+M</translation>
    </message>
    <message>
        <source>Edit Comment</source>
        <translation>Изменить комментарий</translation>
    </message>
    <message>
        <source>Edit comment to selected event</source>
        <translation>Изменить комментарий к выбранному событию</translation>
    </message>
    <message>
        <source>Instrument &amp;Settings	Alt+S</source>
        <translation>&amp;Настройки прибора	Alt+S</translation>
    </message>
    <message>
        <source>Instrument Settings</source>
        <translation>Настройки прибора</translation>
    </message>
    <message>
        <source>P&amp;rogram Settings	Alt+R</source>
        <translation>Настройки &amp;программы	Alt+R</translation>
    </message>
    <message>
        <source>Program Settings</source>
        <translation>Настройки программы</translation>
    </message>
    <message>
        <source>&amp;About KESTRA Software...</source>
        <translation>&amp;О программе KESTRA...</translation>
    </message>
    <message>
        <source>Display program information</source>
        <translation>Показать сведения о программе</translation>
    </message>
    <message>
        <source>About</source>
        <translation>О программе</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Готово</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Файл</translation>
    </message>
    <message>
        <source>Tools</source>
        <translation>Сервис</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Справка</translation>
    </message>
    <message>
        <source>Toolbar</source>
        <translation>Панель инструментов</translation>
    </message>
    <message>
        <source>Error!</source>
        <translation>Ошибка!</translation>
    </message>
    <message>
        <source>Error (%1) during server socket creating</source>
        <translation>Ошибка (%1) при создании серверного сокета</translation>
    </message>
    <message>
        <source>All events</source>
        <translation>Все события</translation>
    </message>
    <message>
        <source>Alarms only</source>
        <translation>Только тревоги</translation>
    </message>
    <message>
        <source>Operation confirmation</source>
        <translation>Подтверждение операции</translation>
    </message>
    <message>
        <source>Do you want to exit?</source>
        <translation>Выйти из программы?</translation>
    </message>
    <message>
        <source>Import History</source>
        <translation>Импорт истории</translation>
    </message>
    <message>
        <source>Export files</source>
        <translation>Файлы экспорта</translation>
    </message>
    <message>
        <source>No event database is open.</source>
        <translation>База данных событий не открыта.</translation>
    </message>
    <message>
        <source>Export History</source>
        <translation>Экспорт истории</translation>
    </message>
    <message>
        <source>Save History As</source>
        <translation>Сохранить историю как</translation>
    </message>
    <message>
        <source>Excel files</source>
        <translation>Файлы Excel</translation>
    </message>
    <message>
        <source>Archive Database</source>
        <translation>Архивировать базу данных</translation>
    </message>
    <message>
        <source>Database archive</source>
        <translation>Архив базы данных</translation>
    </message>
    <message>
        <source>View Archive Database</source>
        <translation>Просмотр архивной базы данных</translation>
    </message>
    <message>
        <source>Database</source>
        <translation>База данных</translation>
    </message>
    <message>
        <source>Incorrect password!</source>
        <translation>Неверный пароль!</translation>
    </message>
    <message>
        <source>&amp;Dose Report...</source>
        <translation>&amp;Отчёт о дозе...</translation>
    </message>
    <message>
        <source>Print or save as PDF a dose report of the instrument over a period</source>
        <translation>Напечатать или сохранить в PDF отчёт о дозе прибора за период</translation>
    </message>
    <message>
        <source>CSV files</source>
        <translation>Файлы CSV</translation>
    </message>
    <message>
        <source>JSON Lines files</source>
        <translation>Файлы JSON Lines</translation>
    </message>
    <message>
        <source>The period of the report is not a span of dates.</source>
        <translation>Период отчёта не является промежутком дат.</translation>
    </message>
    <message>
        <source>Attention!</source>
        <translation>Внимание!</translation>
    </message>
    <message>
        <source>The thresholds could not be read from the instrument; the report is made without them.</source>
        <translation>Не удалось прочитать пороги из прибора; отчёт составлен без них.</translation>
    </message>
    <message>
        <source>Save Dose Report</source>
        <translation>Сохранить отчёт о дозе</translation>
    </message>
    <message>
        <source>PDF files</source>
        <translation>Файлы PDF</translation>
    </message>
    <message>
        <source>The dose report cannot be written to %1.</source>
        <translation>Не удаётся записать отчёт о дозе в %1.</translation>
    </message>
    <message>
        <source>Ra&amp;nge View...</source>
        <translation>&amp;Обзор за период...</translation>
    </message>
    <message>
        <source>Chart an instrument over a week, a month, a year or two dates</source>
        <translation>График прибора за неделю, месяц, год или между двумя датами</translation>
    </message>
    <message>
        <source>Range view</source>
        <translation>Обзор за период</translation>
    </message>
    <message>
        <source>The web page cannot be served on %1: %2</source>
        <translation>Веб-страницу нельзя открыть на %1: %2</translation>
    </message>
</context>
<context>
    <name>COnlineMode</name>
    <message>
        <source>Online Mode</source>
        <translation>Режим онлайн</translation>
    </message>
    <message>
        <source>Instrument mode</source>
        <translation>Режим прибора</translation>
    </message>
    <message>
        <source>Measurement</source>
        <translation>Измерение</translation>
    </message>
    <message>
        <source>Alarm</source>
        <translation>Тревога</translation>
    </message>
    <message>
        <source>Error during connection to instrument</source>
        <translation>Ошибка подключения к прибору</translation>
    </message>
</context>
<context>
    <name>CProgramSettings</name>
    <message>
        <source>This computer has no password: other computers can read it, but cannot change the instrument&apos;s settings or the comments. Set one with &quot;Change password&quot;.</source>
        <translation>На этом компьютере не задан пароль: другие компьютеры могут читать данные, но не могут менять настройки прибора и комментарии. Задайте пароль кнопкой «Изменить пароль».</translation>
    </message>
    <message>
        <source>Attention!</source>
        <translation>Внимание!</translation>
    </message>
    <message>
        <source>Can&apos;t detect COM port</source>
        <translation>Не удаётся обнаружить COM-порт</translation>
    </message>
    <message>
        <source>Program Settings</source>
        <translation>Настройки программы</translation>
    </message>
    <message>
        <source>Local Mode Settings</source>
        <translation>Настройки локального режима</translation>
    </message>
    <message>
        <source>Select &amp;Local Mode</source>
        <translation>&amp;Локальный режим</translation>
    </message>
    <message>
        <source>COM Port:</source>
        <translation>COM-порт:</translation>
    </message>
    <message>
        <source>Auto &amp;detect</source>
        <translation>Автоопре&amp;деление</translation>
    </message>
    <message>
        <source>Operate as server</source>
        <translation>Работать как сервер</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Порт:</translation>
    </message>
    <message>
        <source>Remote Mode Settings</source>
        <translation>Настройки удалённого режима</translation>
    </message>
    <message>
        <source>Select &amp;Remote Mode</source>
        <translation>&amp;Удалённый режим</translation>
    </message>
    <message>
        <source>&amp;Add Computer</source>
        <translation>До&amp;бавить компьютер</translation>
    </message>
    <message>
        <source>&amp;Delete Computer</source>
        <translation>Удали&amp;ть компьютер</translation>
    </message>
    <message>
        <source>&amp;Select Computer</source>
        <translation>&amp;Выбрать компьютер</translation>
    </message>
    <message>
        <source>Other settings</source>
        <translation>Прочие настройки</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Английский</translation>
    </message>
    <message>
        <source>Russian</source>
        <translation>Русский</translation>
    </message>
    <message>
        <source>Change password</source>
        <translation>Изменить пароль</translation>
    </message>
    <message>
        <source>History downloading interval</source>
        <translation>Интервал загрузки истории</translation>
    </message>
    <message>
        <source>(60-30000) </source>
        <translation>(60-30000) </translation>
    </message>
    <message>
        <source>sec.</source>
        <translation>с</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Язык</translation>
    </message>
    <message>
        <source>Auto archiving interval</source>
        <translation>Интервал автоархивирования</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>OFF,1 month,2 months,3 months,4 months,5 months,6 months,7 months,8 months,9 months,10 months,11 months,12 months</source>
        <translation>Выкл,1 месяц,2 месяца,3 месяца,4 месяца,5 месяцев,6 месяцев,7 месяцев,8 месяцев,9 месяцев,10 месяцев,11 месяцев,12 месяцев</translation>
    </message>
    <message>
        <source>[not present]</source>
        <translation>[отсутствует]</translation>
    </message>
    <message>
        <source>[no access]</source>
        <translation>[нет доступа]</translation>
    </message>
    <message>
        <source>Wrong server name or port number!</source>
        <translation>Неверное имя сервера или номер порта!</translation>
    </message>
    <message>
        <source>Incorrect password!</source>
        <translation>Неверный пароль!</translation>
    </message>
    <message>
        <source>Please restart program for language changes to take effect</source>
        <translation>Язык сменится после перезапуска программы</translation>
    </message>
    <message>
        <source>Error!</source>
        <translation>Ошибка!</translation>
    </message>
    <message>
        <source>A file below the program folder, or the address of a PostgreSQL database that several stations share. The password is not part of the address: it is kept in the PostgreSQL password file (~/.pgpass) or in PGPASSWORD.</source>
        <translation>Файл в папке программы или адрес базы данных PostgreSQL, общей для нескольких станций. Пароль в адрес не входит: он хранится в файле паролей PostgreSQL (~/.pgpass) или в PGPASSWORD.</translation>
    </message>
    <message>
        <source>Event database</source>
        <translation>База событий</translation>
    </message>
    <message>
        <source>&amp;Web page:</source>
        <translation>&amp;Веб-страница:</translation>
    </message>
    <message>
        <source>[address:]port; empty: none</source>
        <translation>[адрес:]порт; пусто: нет</translation>
    </message>
    <message>
        <source>A read-only web page, JSON and Prometheus metrics of this station, on this computer only unless an address is given</source>
        <translation>Веб-страница только для чтения, JSON и метрики Prometheus этой станции; только на этом компьютере, если адрес не указан</translation>
    </message>
    <message>
        <source>The web page needs a port (0-65535), or an IP address and a port: 8080, 192.0.2.10:8080, [2001:db8::5]:8080.</source>
        <translation>Для веб-страницы нужен порт (0-65535) или IP-адрес и порт: 8080, 192.0.2.10:8080, [2001:db8::5]:8080.</translation>
    </message>
</context>
<context>
    <name>CProgressBar</name>
    <message>
        <source>Ready</source>
        <translation>Готово</translation>
    </message>
</context>
<context>
    <name>CProgressDialog</name>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>ChartPainter</name>
    <message>
        <source>Gamma dose rate</source>
        <translation>Мощность дозы гамма</translation>
    </message>
    <message>
        <source>Beta flux</source>
        <translation>Плотность потока бета</translation>
    </message>
    <message>
        <source>Count rate</source>
        <translation>Скорость счёта</translation>
    </message>
    <message>
        <source>Attention</source>
        <translation>Внимание</translation>
    </message>
    <message>
        <source>Danger</source>
        <translation>Опасность</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Поиск</translation>
    </message>
    <message>
        <source>No measurements on this day</source>
        <translation>Нет измерений за этот день</translation>
    </message>
    <message>
        <source>No measurements in this span</source>
        <translation>Нет измерений за этот период</translation>
    </message>
</context>
<context>
    <name>ChistoryRec</name>
    <message>
        <source>Measurement gamma</source>
        <translation>Измерение гамма</translation>
    </message>
    <message>
        <source>Measurement gamma+beta</source>
        <translation>Измерение гамма+бета</translation>
    </message>
    <message>
        <source>Measurement beta</source>
        <translation>Измерение бета</translation>
    </message>
    <message>
        <source>Survey mode</source>
        <translation>Режим обследования</translation>
    </message>
    <message>
        <source>Background</source>
        <translation>Фон</translation>
    </message>
    <message>
        <source>Search beta/gamma</source>
        <translation>Поиск бета/гамма</translation>
    </message>
    <message>
        <source>Instrument is switched On</source>
        <translation>Прибор включён</translation>
    </message>
    <message>
        <source>Instrument is switched Off</source>
        <translation>Прибор выключен</translation>
    </message>
    <message>
        <source>Accumulated DE is cleared</source>
        <translation>Накопленная доза сброшена</translation>
    </message>
    <message>
        <source>Start of instrument calibration</source>
        <translation>Начало калибровки прибора</translation>
    </message>
    <message>
        <source>End of instrument calibration</source>
        <translation>Конец калибровки прибора</translation>
    </message>
    <message>
        <source>Instrument sound mode is changed</source>
        <translation>Изменён звуковой режим прибора</translation>
    </message>
    <message>
        <source>Detector error!</source>
        <translation>Ошибка детектора!</translation>
    </message>
    <message>
        <source>Accumulated dose threshold is exceeded!</source>
        <translation>Превышен порог накопленной дозы!</translation>
    </message>
    <message>
        <source>Dose overload!</source>
        <translation>Перегрузка по дозе!</translation>
    </message>
    <message>
        <source>Threshold &quot;Danger&quot; is exceeded!</source>
        <comment>beta</comment>
        <translation>Превышен порог бета «Опасность»!</translation>
    </message>
    <message>
        <source>Threshold &quot;Danger&quot; is exceeded!</source>
        <comment>gamma</comment>
        <translation>Превышен порог гамма «Опасность»!</translation>
    </message>
    <message>
        <source>Threshold &quot;Warning&quot; is exceeded!</source>
        <comment>beta</comment>
        <translation>Превышен порог бета «Внимание»!</translation>
    </message>
    <message>
        <source>Threshold &quot;Warning&quot; is exceeded!</source>
        <comment>gamma</comment>
        <translation>Превышен порог гамма «Внимание»!</translation>
    </message>
    <message>
        <source>µR/h</source>
        <translation>мкР/ч</translation>
    </message>
    <message>
        <source>mR/h</source>
        <translation>мР/ч</translation>
    </message>
    <message>
        <source>R/h</source>
        <translation>Р/ч</translation>
    </message>
    <message>
        <source>µSv/h</source>
        <translation>мкЗв/ч</translation>
    </message>
    <message>
        <source>mSv/h</source>
        <translation>мЗв/ч</translation>
    </message>
    <message>
        <source>Sv/h</source>
        <translation>Зв/ч</translation>
    </message>
    <message>
        <source>1/(min*cm²)</source>
        <translation>1/(мин*см²)</translation>
    </message>
    <message>
        <source>cps</source>
        <translation>имп/с</translation>
    </message>
</context>
<context>
    <name>DayChartView</name>
    <message>
        <source>No measurements to chart</source>
        <translation>Нет измерений для графика</translation>
    </message>
</context>
<context>
    <name>DeviceConfig</name>
    <message>
        <source>Waiting for the history download to end...</source>
        <translation>Ожидание окончания загрузки истории...</translation>
    </message>
    <message>
        <source>1/(min*cm²)</source>
        <translation>1/(мин*см²)</translation>
    </message>
    <message>
        <source>Instrument settings</source>
        <translation>Настройки прибора</translation>
    </message>
    <message>
        <source>Instrument Settings</source>
        <translation>Настройки прибора</translation>
    </message>
    <message>
        <source>Synchronize time with PC</source>
        <translation>Синхронизировать время с ПК</translation>
    </message>
    <message>
        <source>Sound enable</source>
        <translation>Включить звук</translation>
    </message>
    <message>
        <source>Beep in search mode</source>
        <translation>Звук в режиме поиска</translation>
    </message>
    <message>
        <source>Measurement in</source>
        <translation>Единицы измерения</translation>
    </message>
    <message>
        <source>Roentgen</source>
        <translation>Рентген</translation>
    </message>
    <message>
        <source>R</source>
        <translation>Р</translation>
    </message>
    <message>
        <source>Sivert</source>
        <translation>Зиверт</translation>
    </message>
    <message>
        <source>Sv</source>
        <translation>Зв</translation>
    </message>
    <message>
        <source>Thresholds</source>
        <translation>Пороги</translation>
    </message>
    <message>
        <source>cps</source>
        <translation>имп/с</translation>
    </message>
    <message>
        <source>Timing</source>
        <translation>Интервалы</translation>
    </message>
    <message>
        <source>Delete history</source>
        <translation>Удалить историю</translation>
    </message>
    <message>
        <source>Write</source>
        <translation>Записать</translation>
    </message>
    <message>
        <source>Read</source>
        <translation>Прочитать</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Закрыть</translation>
    </message>
    <message>
        <source>Threshold Beta &quot;Attention&quot;</source>
        <translation>Порог бета «Внимание»</translation>
    </message>
    <message>
        <source>Threshold Beta &quot;Danger&quot;</source>
        <translation>Порог бета «Опасность»</translation>
    </message>
    <message>
        <source>Threshold Search</source>
        <translation>Порог поиска</translation>
    </message>
    <message>
        <source>History recording interval, sec.</source>
        <translation>Интервал записи истории, с</translation>
    </message>
    <message>
        <source>Default value = </source>
        <translation>Значение по умолчанию = </translation>
    </message>
    <message>
        <source>Only the computer the instrument is attached to can delete its history.</source>
        <translation>Удалить историю прибора можно только на компьютере, к которому он подключён.</translation>
    </message>
    <message>
        <source>Error!</source>
        <translation>Ошибка!</translation>
    </message>
    <message>
        <source>Error during instrument settings reading!</source>
        <translation>Ошибка чтения настроек прибора!</translation>
    </message>
    <message>
        <source>Threshold DER &quot;Attention&quot;</source>
        <translation>Порог МЭД «Внимание»</translation>
    </message>
    <message>
        <source>Threshold DER &quot;Danger&quot;</source>
        <translation>Порог МЭД «Опасность»</translation>
    </message>
    <message>
        <source>mR/h</source>
        <translation>мР/ч</translation>
    </message>
    <message>
        <source>mSv/h</source>
        <translation>мЗв/ч</translation>
    </message>
    <message>
        <source>Some values are wrong!</source>
        <translation>Некоторые значения неверны!</translation>
    </message>
    <message>
        <source>The instrument keeps the history recording interval in 16 bits: at most %1 seconds.</source>
        <translation>Прибор хранит интервал записи истории в 16 битах: не более %1 с.</translation>
    </message>
    <message>
        <source>Attention!</source>
        <translation>Внимание!</translation>
    </message>
    <message>
        <source>Can&apos;t write instrument settings!</source>
        <translation>Не удаётся записать настройки прибора!</translation>
    </message>
    <message>
        <source>Data saved!</source>
        <translation>Данные сохранены!</translation>
    </message>
    <message>
        <source>Operation confirmation</source>
        <translation>Подтверждение операции</translation>
    </message>
    <message>
        <source>Do you want to delete the instrument history?</source>
        <translation>Удалить историю прибора?</translation>
    </message>
    <message>
        <source>Instrument history is deleted</source>
        <translation>История прибора удалена</translation>
    </message>
    <message>
        <source>Error during instrument history deleting!</source>
        <translation>Ошибка удаления истории прибора!</translation>
    </message>
</context>
<context>
    <name>DoseChart</name>
    <message>
        <source>Waiting for the first reading</source>
        <translation>Ожидание первого измерения</translation>
    </message>
</context>
<context>
    <name>DoseReport</name>
    <message>
        <source>Detector error</source>
        <translation>Ошибка детектора</translation>
    </message>
    <message>
        <source>Dose threshold</source>
        <translation>Порог дозы</translation>
    </message>
    <message>
        <source>Dose overload</source>
        <translation>Перегрузка по дозе</translation>
    </message>
    <message>
        <source>Danger β</source>
        <translation>Опасность β</translation>
    </message>
    <message>
        <source>Danger γ</source>
        <translation>Опасность γ</translation>
    </message>
    <message>
        <source>Warning β</source>
        <translation>Внимание β</translation>
    </message>
    <message>
        <source>Warning γ</source>
        <translation>Внимание γ</translation>
    </message>
</context>
<context>
    <name>DoseReportPrinter</name>
    <message>
        <source>Dose report</source>
        <translation>Отчёт о дозе</translation>
    </message>
    <message>
        <source>Instrument: %1</source>
        <translation>Прибор: %1</translation>
    </message>
    <message>
        <source>Period: %1 to %2</source>
        <translation>Период: с %1 по %2</translation>
    </message>
    <message>
        <source>Thresholds: not known (time above them is not counted)</source>
        <translation>Пороги: неизвестны (время выше порогов не подсчитано)</translation>
    </message>
    <message>
        <source>off</source>
        <translation>выкл.</translation>
    </message>
    <message>
        <source>Thresholds: Warning %1, Danger %2</source>
        <translation>Пороги: «Внимание» %1, «Опасность» %2</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Дата</translation>
    </message>
    <message>
        <source>Highest
%1</source>
        <translation>Максимум
%1</translation>
    </message>
    <message>
        <source>Mean
%1</source>
        <translation>Среднее
%1</translation>
    </message>
    <message>
        <source>Alarms</source>
        <translation>Тревоги</translation>
    </message>
    <message>
        <source>Above
Warning</source>
        <translation>Выше
«Внимание»</translation>
    </message>
    <message>
        <source>Above
Danger</source>
        <translation>Выше
«Опасность»</translation>
    </message>
    <message>
        <source>Dose
cleared</source>
        <translation>Доза
сброшена</translation>
    </message>
    <message>
        <source>+%1 more</source>
        <translation>ещё %1</translation>
    </message>
    <message>
        <source>Total</source>
        <translation>Итого</translation>
    </message>
    <message>
        <source>Dose rate in %1</source>
        <translation>Мощность дозы в %1</translation>
    </message>
    <message>
        <source>No events in this period.</source>
        <translation>За этот период событий нет.</translation>
    </message>
    <message>
        <source>KESTRA software. %1</source>
        <translation>Программа KESTRA. %1</translation>
    </message>
    <message>
        <source>Page %1/%2</source>
        <translation>Стр. %1/%2</translation>
    </message>
    <message>
        <source>Dose rate per day, %1</source>
        <translation>Мощность дозы по дням, %1</translation>
    </message>
    <message>
        <source>Highest</source>
        <translation>Максимум</translation>
    </message>
    <message>
        <source>Mean</source>
        <translation>Среднее</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Внимание</translation>
    </message>
    <message>
        <source>Danger</source>
        <translation>Опасность</translation>
    </message>
</context>
<context>
    <name>EventListModel</name>
    <message>
        <source>Date</source>
        <translation>Дата</translation>
    </message>
    <message>
        <source> / %1</source>
        <translation> / %1</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Время</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Режим</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Значение</translation>
    </message>
    <message>
        <source>Alarm</source>
        <translation>Тревога</translation>
    </message>
    <message>
        <source>Comment</source>
        <translation>Комментарий</translation>
    </message>
</context>
<context>
    <name>EventListPrinter</name>
    <message>
        <source>KESTRA software. Instrument: %1 %2</source>
        <translation>Программа KESTRA. Прибор: %1 %2</translation>
    </message>
</context>
<context>
    <name>HistoryDb</name>
    <message>
        <source>Database Error!</source>
        <translation>Ошибка базы данных!</translation>
    </message>
    <message>
        <source>The folder of the database cannot be created: %1</source>
        <translation>Не удаётся создать папку базы данных: %1</translation>
    </message>
    <message>
        <source>%1 cannot be opened: %2</source>
        <translation>Не удаётся открыть файл %1: %2</translation>
    </message>
    <message>
        <source>The events could not be stored in %1; none of this batch of %2 was kept: %3</source>
        <translation>Не удалось сохранить события в %1; ни одно из %2 событий этой партии не записано: %3</translation>
    </message>
    <message>
        <source>The current time has no local date</source>
        <translation>Для текущего времени нет местной даты</translation>
    </message>
    <message>
        <source>The date of a day of %1 cannot be read: %2</source>
        <translation>Не удаётся прочитать дату дня в %1: %2</translation>
    </message>
    <message>
        <source>%1 is damaged: %2. Nothing more is written into it; close the program and repair or replace the file</source>
        <translation>%1 повреждён: %2. В него больше ничего не записывается; закройте программу и восстановите или замените файл</translation>
    </message>
    <message>
        <source>a corruption error was met earlier</source>
        <translation>ранее встретилась ошибка повреждения</translation>
    </message>
    <message>
        <source>The comment of %1 was not stored: it %2</source>
        <translation>Комментарий к %1 не сохранён: он %2</translation>
    </message>
    <message>
        <source>The comment of %1 was not stored: the event is not in the database %2</source>
        <translation>Комментарий к %1 не сохранён: этого события нет в базе данных %2</translation>
    </message>
    <message>
        <source>The comment of %1 was not stored: %2 events of the database match it</source>
        <translation>Комментарий к %1 не сохранён: ему соответствуют %2 событий базы данных</translation>
    </message>
</context>
<context>
    <name>HistoryExport</name>
    <message>
        <source>The file %1 cannot be written: %2</source>
        <translation>Не удаётся записать файл %1: %2</translation>
    </message>
    <message>
        <source>(standard output)</source>
        <translation>(стандартный вывод)</translation>
    </message>
    <message>
        <source>The events cannot be read from %1: %2</source>
        <translation>Не удаётся прочитать события из %1: %2</translation>
    </message>
    <message>
        <source>not every byte was written</source>
        <translation>записаны не все байты</translation>
    </message>
</context>
<context>
    <name>HistoryFiles</name>
    <message>
        <source>Error!</source>
        <translation>Ошибка!</translation>
    </message>
    <message>
        <source>The file %1 cannot be written: %2</source>
        <translation>Не удаётся записать файл %1: %2</translation>
    </message>
    <message>
        <source>The file %1 cannot be opened: %2</source>
        <translation>Не удаётся открыть файл %1: %2</translation>
    </message>
    <message>
        <source>The file %1 is not a history export: %2</source>
        <translation>Файл %1 не является экспортом истории: %2</translation>
    </message>
    <message>
        <source>The file %1 holds an event with an impossible time (%2 seconds since 1970)</source>
        <translation>Файл %1 содержит событие с недопустимым временем (%2 с от 1970 года)</translation>
    </message>
    <message>
        <source>Error during database archiving!
Error:%1</source>
        <translation>Ошибка архивирования базы данных!
Ошибка:%1</translation>
    </message>
    <message>
        <source>Attention!</source>
        <translation>Внимание!</translation>
    </message>
    <message>
        <source>Database is successfully archived</source>
        <translation>База данных успешно заархивирована</translation>
    </message>
    <message>
        <source>Database is successfully archived into %1 (%2 exists already)</source>
        <translation>База данных успешно заархивирована в %1 (%2 уже существует)</translation>
    </message>
</context>
<context>
    <name>HistorySchema</name>
    <message>
        <source>%1 is damaged: %2</source>
        <translation>Файл %1 повреждён: %2</translation>
    </message>
    <message>
        <source>%1 is not an event database: %2</source>
        <translation>Файл %1 не является базой данных событий: %2</translation>
    </message>
    <message>
        <source>%1 is not an event database: unknown layout %2</source>
        <translation>Файл %1 не является базой данных событий: неизвестная структура %2</translation>
    </message>
    <message>
        <source>%1 was written by a newer version of the program (layout %2); it is not opened</source>
        <translation>Файл %1 записан более новой версией программы (структура %2) и не открывается</translation>
    </message>
    <message>
        <source>%1 is not an event database: its table History has no column %2</source>
        <translation>Файл %1 не является базой данных событий: в его таблице History нет столбца %2</translation>
    </message>
    <message>
        <source>%1 is an event database of an earlier version and cannot be written to upgrade it</source>
        <translation>Файл %1 - база данных событий прежней версии; записать в него, чтобы обновить, нельзя</translation>
    </message>
    <message>
        <source>%1 has no event tables and cannot be written</source>
        <translation>В файле %1 нет таблиц событий, и записать в него нельзя</translation>
    </message>
    <message>
        <source>%1 cannot be prepared: %2</source>
        <translation>Не удаётся подготовить %1: %2</translation>
    </message>
    <message>
        <source>%1 could not be upgraded to the current layout and is left as it was: %2</source>
        <translation>Не удалось обновить файл %1 до текущей структуры; он оставлен без изменений: %2</translation>
    </message>
    <message>
        <source>The event tables could not be made in %1: %2</source>
        <translation>Не удалось создать таблицы событий в %1: %2</translation>
    </message>
    <message>
        <source>%1 is not an event database: its layout version cannot be read</source>
        <translation>%1 не является базой событий: версию её структуры невозможно прочитать</translation>
    </message>
    <message>
        <source>%1 is not an event database: it has a table History without a layout version</source>
        <translation>%1 не является базой событий: в ней есть таблица History без версии структуры</translation>
    </message>
</context>
<context>
    <name>HistoryText</name>
    <message>
        <source>is longer than %1 characters</source>
        <translation>длиннее %1 символов</translation>
    </message>
    <message>
        <source>holds a NUL character at position %1</source>
        <translation>содержит символ NUL в позиции %1</translation>
    </message>
    <message>
        <source>holds a broken UTF-16 character (a lone surrogate) at position %1</source>
        <translation>содержит повреждённый символ UTF-16 (одиночный суррогат) в позиции %1</translation>
    </message>
    <message>
        <source>comment</source>
        <translation>комментарий</translation>
    </message>
    <message>
        <source>instrument identifier</source>
        <translation>идентификатор прибора</translation>
    </message>
    <message>
        <source>key</source>
        <translation>ключ</translation>
    </message>
    <message>
        <source>its %1 %2</source>
        <translation>его %1 %2</translation>
    </message>
    <message>
        <source>the event of %1 at %2 %3</source>
        <translation>событие %1 в %2 %3</translation>
    </message>
</context>
<context>
    <name>IniFile</name>
    <message>
        <source>Cannot read the settings file %1: %2</source>
        <translation>Не удаётся прочитать файл настроек %1: %2</translation>
    </message>
    <message>
        <source>The settings file %1 is larger than %2 bytes and was not read.</source>
        <translation>Файл настроек %1 больше %2 байт и не прочитан.</translation>
    </message>
    <message>
        <source>Cannot create the folder %1</source>
        <translation>Не удаётся создать папку %1</translation>
    </message>
    <message>
        <source>Cannot write the settings file %1: %2</source>
        <translation>Не удаётся записать файл настроек %1: %2</translation>
    </message>
</context>
<context>
    <name>MeasurementTexts</name>
    <message>
        <source>Detector error!</source>
        <translation>Ошибка детектора!</translation>
    </message>
    <message>
        <source>Accumulated dose threshold is exceeded!</source>
        <translation>Превышен порог накопленной дозы!</translation>
    </message>
    <message>
        <source>Dose overload!</source>
        <translation>Перегрузка по дозе!</translation>
    </message>
    <message>
        <source>Threshold &quot;Danger&quot; is exceeded!</source>
        <comment>beta</comment>
        <translation>Превышен порог бета «Опасность»!</translation>
    </message>
    <message>
        <source>Threshold &quot;Danger&quot; is exceeded!</source>
        <comment>gamma</comment>
        <translation>Превышен порог гамма «Опасность»!</translation>
    </message>
    <message>
        <source>Threshold &quot;Warning&quot; is exceeded!</source>
        <comment>beta</comment>
        <translation>Превышен порог бета «Внимание»!</translation>
    </message>
    <message>
        <source>Threshold &quot;Warning&quot; is exceeded!</source>
        <comment>gamma</comment>
        <translation>Превышен порог гамма «Внимание»!</translation>
    </message>
    <message>
        <source>in process...</source>
        <translation>идёт измерение...</translation>
    </message>
    <message>
        <source>safe</source>
        <translation>чисто</translation>
    </message>
    <message>
        <source>contaminated</source>
        <translation>загрязнено</translation>
    </message>
    <message>
        <source>uncertain result</source>
        <translation>неопределённый результат</translation>
    </message>
    <message>
        <source>µR/h</source>
        <translation>мкР/ч</translation>
    </message>
    <message>
        <source>mR/h</source>
        <translation>мР/ч</translation>
    </message>
    <message>
        <source>R/h</source>
        <translation>Р/ч</translation>
    </message>
    <message>
        <source>µSv/h</source>
        <translation>мкЗв/ч</translation>
    </message>
    <message>
        <source>mSv/h</source>
        <translation>мЗв/ч</translation>
    </message>
    <message>
        <source>Sv/h</source>
        <translation>Зв/ч</translation>
    </message>
    <message>
        <source>cps</source>
        <translation>имп/с</translation>
    </message>
    <message>
        <source>Measurement gamma</source>
        <translation>Измерение гамма</translation>
    </message>
    <message>
        <source>gamma</source>
        <translation>гамма</translation>
    </message>
    <message>
        <source>Measurement gamma+beta</source>
        <translation>Измерение гамма+бета</translation>
    </message>
    <message>
        <source>gamma+beta</source>
        <translation>гамма+бета</translation>
    </message>
    <message>
        <source>1/(min*cm²)</source>
        <translation>1/(мин*см²)</translation>
    </message>
    <message>
        <source>Measurement beta</source>
        <translation>Измерение бета</translation>
    </message>
    <message>
        <source>beta</source>
        <translation>бета</translation>
    </message>
    <message>
        <source>Survey mode</source>
        <translation>Режим обследования</translation>
    </message>
    <message>
        <source>Background</source>
        <translation>Фон</translation>
    </message>
    <message>
        <source>Search beta/gamma</source>
        <translation>Поиск бета/гамма</translation>
    </message>
</context>
<context>
    <name>Password</name>
    <message>
        <source>The new password is empty.</source>
        <translation>Новый пароль пуст.</translation>
    </message>
</context>
<context>
    <name>PortDiscovery</name>
    <message>
        <source>[no access]</source>
        <translation>[нет доступа]</translation>
    </message>
    <message>
        <source>The port %1 does not exist. Check that the instrument is plugged in, or choose another port in the program settings.</source>
        <translation>Порт %1 не существует. Проверьте, что прибор подключён, или выберите другой порт в настройках программы.</translation>
    </message>
    <message>
        <source>You may not open the port %1 yet: you belong to the group &quot;%2&quot; that owns it, but this session began before you were added. Log out and in again.</source>
        <translation>Вы пока не можете открыть порт %1: вы входите в группу «%2», которой он принадлежит, но этот сеанс начался до вашего добавления в неё. Выйдите из системы и войдите снова.</translation>
    </message>
    <message>
        <source>You may not open the port %1. Add your user to the group &quot;%2&quot; that owns it (for example: sudo usermod -aG %2 $USER), then log out and in again.</source>
        <translation>Вы не можете открыть порт %1. Добавьте своего пользователя в группу «%2», которой он принадлежит (например: sudo usermod -aG %2 $USER), затем выйдите из системы и войдите снова.</translation>
    </message>
</context>
<context>
    <name>ProgramConfig</name>
    <message>
        <source>The last archiving time %1 is not a date; 1 February 1990 is used.</source>
        <translation>Время последнего архивирования %1 не является датой; используется 1 февраля 1990 года.</translation>
    </message>
    <message>
        <source>The server port %1 is outside 1 to 65535; %2 is used.</source>
        <translation>Порт сервера %1 вне диапазона от 1 до 65535; используется %2.</translation>
    </message>
    <message>
        <source>The server list size %1 is outside 0 to %2; the list is read as empty.</source>
        <translation>Размер списка серверов %1 вне диапазона от 0 до %2; список считается пустым.</translation>
    </message>
    <message>
        <source>No settings file is set.</source>
        <translation>Файл настроек не задан.</translation>
    </message>
</context>
<context>
    <name>ProgramFolder</name>
    <message>
        <source>Cannot create the program folder %1</source>
        <translation>Не удаётся создать папку программы %1</translation>
    </message>
</context>
<context>
    <name>RangeView</name>
    <message>
        <source>another operation is in progress</source>
        <translation>выполняется другая операция</translation>
    </message>
    <message>
        <source>%1 d</source>
        <translation>%1 сут</translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation>%1 ч</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 мин</translation>
    </message>
    <message>
        <source>No measurements in this span</source>
        <translation>Нет измерений за этот период</translation>
    </message>
    <message>
        <source>%1
alarm events: %2</source>
        <translation>%1&#xa;тревог: %2</translation>
    </message>
    <message>
        <source>%1
%2, %3
lowest %4, highest %5, mean %6
values: %7</source>
        <translation>%1&#xa;%2, %3&#xa;наименьшее %4, наибольшее %5, среднее %6&#xa;значений: %7</translation>
    </message>
    <message>
        <source>Range View</source>
        <translation>Обзор за период</translation>
    </message>
    <message>
        <source>Week</source>
        <translation>Неделя</translation>
    </message>
    <message>
        <source>Month</source>
        <translation>Месяц</translation>
    </message>
    <message>
        <source>Year</source>
        <translation>Год</translation>
    </message>
    <message>
        <source>Dates</source>
        <translation>Даты</translation>
    </message>
    <message>
        <source>Instrument:</source>
        <translation>Прибор:</translation>
    </message>
    <message>
        <source>Span:</source>
        <translation>Период:</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>С:</translation>
    </message>
    <message>
        <source>To:</source>
        <translation>По:</translation>
    </message>
    <message>
        <source>In remote mode the events are on the server; the range view reads this computer&apos;s database or an archive.</source>
        <translation>В удалённом режиме события хранятся на сервере; обзор за период читает базу данных этого компьютера или архив.</translation>
    </message>
    <message>
        <source>No database is open.</source>
        <translation>База данных не открыта.</translation>
    </message>
    <message>
        <source>No instrument is known.</source>
        <translation>Нет известных приборов.</translation>
    </message>
    <message>
        <source>The dates give no span.</source>
        <translation>Даты не задают период.</translation>
    </message>
    <message>
        <source>Events: %1, alarm events: %2, one bar per %3</source>
        <translation>Событий: %1, тревог: %2, один столбец на %3</translation>
    </message>
    <message>
        <source>The events cannot be read: %1</source>
        <translation>Не удаётся прочитать события: %1</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <source>KESTRA Software, Version %1</source>
        <translation>Программа KESTRA, версия %1</translation>
    </message>
    <message>
        <source>About KESTRA</source>
        <translation>О программе KESTRA</translation>
    </message>
    <message>
        <source>Copyright (C) %1</source>
        <translation>© %1</translation>
    </message>
    <message>
        <source>Software is already running.</source>
        <translation>Программа уже запущена.</translation>
    </message>
</context>
<context>
    <name>StationPages</name>
    <message>
        <source>KESTRA station</source>
        <translation>Станция KESTRA</translation>
    </message>
    <message>
        <source>Current reading</source>
        <translation>Текущее измерение</translation>
    </message>
    <message>
        <source>Instrument</source>
        <translation>Прибор</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Режим</translation>
    </message>
    <message>
        <source>Precision</source>
        <translation>Точность</translation>
    </message>
    <message>
        <source>Measured at</source>
        <translation>Время измерения</translation>
    </message>
    <message>
        <source>No reading</source>
        <translation>Нет измерения</translation>
    </message>
    <message>
        <source>No instrument answers</source>
        <translation>Прибор не отвечает</translation>
    </message>
    <message>
        <source>Alarm</source>
        <translation>Тревога</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Нет</translation>
    </message>
    <message>
        <source>Battery</source>
        <translation>Батарея</translation>
    </message>
    <message>
        <source>Last download</source>
        <translation>Последнее считывание</translation>
    </message>
    <message numerus="yes">
        <source>%1 (%n new events)</source>
        <translation>
            <numerusform>%1 (%n новое событие)</numerusform>
            <numerusform>%1 (%n новых события)</numerusform>
            <numerusform>%1 (%n новых событий)</numerusform>
        </translation>
    </message>
    <message>
        <source>none since the station started</source>
        <translation>не было с запуска станции</translation>
    </message>
    <message>
        <source>Instruments</source>
        <translation>Приборы</translation>
    </message>
    <message>
        <source>No instruments in the database</source>
        <translation>В базе данных нет приборов</translation>
    </message>
    <message>
        <source>Days of %1</source>
        <translation>Дни прибора %1</translation>
    </message>
    <message>
        <source>alarm</source>
        <translation>тревога</translation>
    </message>
    <message>
        <source>Events of %1</source>
        <translation>События за %1</translation>
    </message>
    <message>
        <source>Chart of %1</source>
        <translation>График за %1</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Время</translation>
    </message>
    <message>
        <source>Event</source>
        <translation>Событие</translation>
    </message>
    <message>
        <source>Value</source>
        <translation>Значение</translation>
    </message>
    <message>
        <source>Comment</source>
        <translation>Комментарий</translation>
    </message>
    <message>
        <source>No events on this day</source>
        <translation>За этот день событий нет</translation>
    </message>
    <message>
        <source>The newest %1 of %2 events</source>
        <translation>Последние %1 из %2 событий</translation>
    </message>
    <message>
        <source>Dose rate from %1 to %2</source>
        <translation>Мощность дозы с %1 по %2</translation>
    </message>
    <message>
        <source>From</source>
        <translation>С</translation>
    </message>
    <message>
        <source>To</source>
        <translation>По</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Показать</translation>
    </message>
    <message>
        <source>Week</source>
        <translation>Неделя</translation>
    </message>
    <message>
        <source>Year</source>
        <translation>Год</translation>
    </message>
    <message>
        <source>Data</source>
        <translation>Данные</translation>
    </message>
    <message>
        <source>CSV from %1 to %2</source>
        <translation>CSV с %1 по %2</translation>
    </message>
</context>
<context>
    <name>StoreAddress</name>
    <message>
        <source>No event database is given</source>
        <translation>База событий не указана</translation>
    </message>
    <message>
        <source>The database address is not a valid address (check the port number, and that it holds no spaces or other characters an address cannot hold)</source>
        <translation>Адрес базы данных недопустим (проверьте номер порта и что в нём нет пробелов или других недопустимых в адресе символов)</translation>
    </message>
    <message>
        <source>The database address holds a password; give the address without it and keep the password in the PostgreSQL password file (~/.pgpass or PGPASSFILE) or in PGPASSWORD</source>
        <translation>Адрес базы данных содержит пароль; укажите адрес без него, а пароль храните в файле паролей PostgreSQL (~/.pgpass или PGPASSFILE) или в PGPASSWORD</translation>
    </message>
    <message>
        <source>The database address has an unknown sslmode: %1</source>
        <translation>В адресе базы данных неизвестный sslmode: %1</translation>
    </message>
    <message>
        <source>The database address has a connect_timeout that is not 1 to 3600 seconds: %1</source>
        <translation>В адресе базы данных connect_timeout не от 1 до 3600 секунд: %1</translation>
    </message>
    <message>
        <source>The database address has a setting this program does not take: %1</source>
        <translation>Адрес базы данных содержит параметр, который программа не принимает: %1</translation>
    </message>
    <message>
        <source>The database address names no server</source>
        <translation>В адресе базы данных не указан сервер</translation>
    </message>
    <message>
        <source>The database address has no valid port</source>
        <translation>В адресе базы данных нет допустимого порта</translation>
    </message>
    <message>
        <source>The database address names no database (postgresql://user@host:port/database)</source>
        <translation>В адресе базы данных не указана база (postgresql://пользователь@сервер:порт/база)</translation>
    </message>
</context>
<context>
    <name>StoreMigration</name>
    <message>
        <source>the events of %1 on %2 were dated in another time zone than this one (TZ); nothing of them was copied. Run the migration in the time zone of the stations</source>
        <translation>события %1 за %2 датированы в другом часовом поясе, чем текущий (TZ); ни одно из них не скопировано. Запустите перенос в часовом поясе станций</translation>
    </message>
    <message>
        <source>the events of %1 on %2 were dated in another time zone than this one (TZ); nothing was copied. Run the migration in the time zone of the stations</source>
        <translation>события %1 за %2 датированы в другом часовом поясе, чем этот (TZ); ничего не скопировано. Запустите перенос в часовом поясе станций</translation>
    </message>
</context>
</TS>
