// Every text of the configurator page, in each of its languages: one table.
// (What the C++ library says stays the library's: key and button names,
// the check's findings, the timing sentences and klavor-sim's timeline are
// in English on every page, as klavorcfg and klavor-sim print them.)
// A value is a text, or a function of the numbers and names it tells.
// In texts shown with rich(), **bold** and `code` are marked.
'use strict';

const plural = (n, one, few, many) => {
  // English passes only two forms; Russian three.
  if (many === undefined) return n === 1 ? one : few;
  const d = n % 10, h = n % 100;
  if (d === 1 && h !== 11) return one;
  if (d >= 2 && d <= 4 && (h < 12 || h > 14)) return few;
  return many;
};
const sec = (ms) => (ms / 1000).toFixed(3);
// A size in bytes, its number grouped as the language groups them.
const bytesEn = (n) => `${n.toLocaleString('en')} bytes`;
const bytesRu = (n) => `${n.toLocaleString('ru')} ${plural(n, 'байт', 'байта', 'байт')}`;

const STRINGS = {
  en: {
    title: 'Klavor configurator',
    language: 'Language',
    skip: 'Skip to the button editor',
    offline: '**Offline:** this page makes no network request of any kind (its Content-Security-Policy forbids ' +
      'them all). Your configuration stays on this computer.',
    undo: 'Undo',
    redo: 'Redo',
    open: 'Open a file\u2026',
    startAgain: 'Start again',
    phoneTitle: "Your phone's buttons",
    phoneHint: 'Choose a button to change what it does.',
    drawing: 'The phone, with its eight buttons',
    listTitle: 'The eight buttons',
    changeKey: "Change the button's key",
    modeLegend: 'What Klavor does with it',
    pressesTitle: 'Presses',
    buttonFindings: 'What the check says of this button',
    checkTitle: 'Check',
    filesTitle: 'Files',
    downloadCab: 'Download Klavor.cab',
    downloadReg: 'Download Klavor.reg',
    downloadText: 'Download the configuration text (Klavor.klavor)',
    blocked: '**Blocked:** the check finds an error, so `Klavor.cab` and `Klavor.reg` are not made. Change the ' +
      'buttons named under Check, or make them anyway.',
    force: 'Make them anyway, in spite of the error (as `klavorcfg --no-check` does)',
    cabAbout: '**Klavor.cab** puts everything on the phone: Klavor\'s program, shortcuts that start it with the ' +
      'phone and from the Start menu, this configuration, and a small setup program that the phone\'s installer ' +
      'runs before and after installing.',
    cabInstall: '**Install:** copy `Klavor.cab` to the phone (ActiveSync, or a memory card) and tap it in File ' +
      'Explorer. Klavor starts at once.',
    cabChange: '**Change the configuration:** download the new `Klavor.cab` and tap it on the phone in the same way. ' +
      'Its setup program ends the Klavor that is running and starts the new one: you need not exit Klavor or ' +
      'reset the phone.',
    cabRemove: '**Remove:** Start, Settings, System, Remove Programs, "Klavor project Klavor". A running Klavor is ' +
      'ended, and everything the cabinet installed goes.',
    cabKeep: 'The installer deletes the `.cab` when it is done: keep a copy. **Klavor.reg** is the configuration ' +
      'alone, for a registry editor; Klavor takes it when it next starts.',
    openAbout: 'Open a configuration text, a `.reg` file, a raw 128-byte image or a `.cab` with **Open a file** ' +
      'above, or drop it on the page. The text is what `klavorcfg show` prints; `klavorcfg` reads every file ' +
      'this page writes, and this page reads what `klavorcfg` writes.',
    program: (exe, setup) => `The cabinet's klavor.exe (${bytesEn(exe)}) and its setup program, klavor_setup.dll ` +
      `(${bytesEn(setup)}), are the phone build's, carried by this page.`,
    drop: 'Drop the file to open it',
    search: 'Search by name',
    show: 'Show',
    holdWinBox: 'Hold the Windows key (Win+)',
    keys: 'Keys',
    noKey: 'No key has that name.',
    hexLabel: 'Any other code, in hex',
    useCode: 'Use this code',
    cancel: 'Cancel',
    listen: 'Press a key to pick it',
    stopListening: 'Stop listening',
    listening: 'Listening: press the key (Esc stops; Ctrl+Z and Ctrl+Y stay undo and redo).',
    typeCode: 'Type a code first, such as 0x41.',
    ownCodes: "Klavor's own codes",
    groups: {},
    modes: [
      'Klavor leaves the button alone: it does what it did before.',
      'Klavor takes the button away from every other program and sends nothing: its presses do nothing.',
      'Klavor takes the button, counts its presses and sends the action you choose for each count.',
    ],
    modeWord: (word) => word,
    press: (i, word) => `${word} press`,
    count: (n, what) => `${n === 0 ? 'no' : n} ${what}${n === 1 ? '' : 's'}`,
    error: 'error',
    warning: 'warning',
    Error: 'Error',
    Warning: 'Warning',
    keyText: (key) => `Its own key: ${key}. `,
    oddMode: (word) => `It holds ${word}, which the program takes as leave.`,
    pressesNote: (note) => `${note}. What the presses would send:`,
    pressesPlain: 'What each number of presses sends, and when:',
    sends: (press, action) => `${press} sends ${action}`,
    sendsRow: (press) => `${press} sends `,
    changeIt: (press, action) => `${press} sends ${action}. Change it`,
    addPress: (press) => `Add a ${press}`,
    removePress: (press) => `Remove the ${press}`,
    fromButton: (name) => `from ${name}`,
    and: ' and ',
    noFindings: 'No errors, no warnings: the phone will do what the buttons say.',
    findingsSummary: (errors, warnings) => `${errors}, ${warnings}.`,
    editButton: (name) => `Edit ${name}`,
    backToDefaults: 'Back to the built-in configuration, which leaves every button alone (Undo brings yours back).',
    undone: 'Undone.',
    redone: 'Redone.',
    cannotRead: (name, why) => `${name}: cannot read: ${why}`,
    notOpened: (why) => `Not opened. ${why}`,
    opened: (name) => `Opened ${name}.`,
    openedWith: (name, errors, warnings) => `Opened ${name}: ${errors}, ${warnings}, listed under Check.`,
    made: (name, bytes) => `${name} made (${bytes} bytes).`,
    pickKeyTitle: (name, key) => `The key ${name} sends (now ${key})`,
    pickActionTitle: (name, press, action) => `What ${name}'s ${press} sends (now ${action})`,
    keyNow: (name, key) => `${name}'s key is now ${key}.`,
    actionNow: (press, name, action) => `${press} of ${name} now sends ${action}.`,
    sameKeyAs: (label, also) => `${label}, the same key as ${also}`,
    chosenNow: ', chosen now',
    cannotStart: (why) => `The page could not start: ${why}`,

    tryTitle: 'Try it on a simulated phone',
    tryHint: 'The real Klavor program runs here on a simulated phone, in the phone\'s own time. Press its buttons ' +
      'in your own rhythm: click or tap them, or press the keys 1 to 8 while the phone has the focus (with Shift ' +
      'for the Shift press, with Alt for the Win press). What the phone application gets appears when it gets it.',
    simPhone: 'The simulated phone: keys 1 to 8 press its buttons, Shift+1 to 8 with Shift, Alt+1 to 8 with Win',
    trayIcon: "Klavor's tray icon: tap it",
    simGets: 'The application got:',
    holdWin: 'Hold Win',
    holdShift: 'Hold Shift',
    simStale: 'The configuration has changed since this session began. Klavor reads it when it starts:',
    restart: 'Restart the session',
    saveScenario: 'Save as a scenario',
    openScenario: 'Open a scenario\u2026',
    showAll: 'Show it all',
    earlierLines: (n) => `Show the ${n} earlier lines`,
    timelineTitle: 'What happens, and when',
    timelineNote: 'In klavor-sim\'s words: saved as a scenario, `klavor-sim session.scenario` prints these lines.',
    simRunning: (title) => `Klavor runs, on a phone whose application is "${title}".`,
    simExited: (code) => `Klavor has exited with code ${code}. Restart the session to try again.`,
    simReplay: (name, end) => `Replaying ${name}, which ends at ${end} s.`,
    simNothing: 'Nothing waits to be sent.',
    pendingHead: (name, n) => `${name}: ${n} ${n === 1 ? 'press' : 'presses'} so far.`,
    pendingDue: (action, at, left) => `Sends ${action} at ${at} s (in ${left} s)`,
    pendingMore: ', unless it is pressed again before then.',
    pendingLast: '.',
    pendingWaits: 'Waiting.',
    notePress: (name, n, gap) => n === 1 ? `${name}: press 1` : `${name}: press ${n}, ${sec(gap)} s after press ${n - 1}`,
    noteInjected: ', from a key Klavor itself sent',
    noteLate: (gap, within, press, at) => `too late to count with the press before: it came ${sec(gap)} s after it, ` +
      `and had to come within ${sec(within)} s; the ${press} had been sent at ${sec(at)} s`,
    noteDrops: (name, n) => `${name}'s ${n === 1 ? 'press is' : `${n} presses are`} dropped: another button was ` +
      'pressed before it was sent',
    noteSent: (name, n, gaps) => `from ${n} ${n === 1 ? 'press' : 'presses'} of ${name}` +
      (gaps.length ? `, ${gaps.map(sec).join(' s and ')} s apart` : ''),
    menu: 'Menu',
    dismiss: 'Tap elsewhere (no choice)',
    ok: 'OK',
    saved: (name) => `${name} saved: klavor-sim prints the same timeline for it.`,
    replaying: (name) => `Replaying ${name}.`,

    shareTitle: 'Share',
    shareAbout: 'A link carries the configuration in its last part, after #: whoever opens it gets this page ' +
      'with your configuration. The part after # never leaves the browser. A page opened from a file has a ' +
      'link only on your computer: send the code instead, to paste below.',
    shareLink: 'Link',
    shareCode: 'Code',
    copy: 'Copy',
    sharePaste: 'A code or link someone sent you',
    shareOpen: 'Open it',
    copied: 'Copied.',
    copyByHand: 'Selected: copy it with Ctrl+C.',
    sharedOpened: 'Opened the shared configuration (Undo brings yours back).',
    sharedRefused: (why) => `The shared configuration was not opened: ${why}. Your configuration is unchanged.`,
    shareForeign: 'it is not a Klavor configuration',
    shareVersion: (v) => `it is a Klavor configuration of version ${v}, which this page does not read`,
    shareDamaged: 'it is damaged (a character was changed, lost or added on the way)',
    sheetTitle: 'What the buttons do: a cheat sheet',
    sheetFoot: 'From the Klavor configurator.',
    print: 'Print the cheat sheet',
    sheetNone: 'No button is captured: Klavor changes nothing.',
    sheetPresses: (n) => ['one press', 'two presses', 'three presses', 'four presses', 'five presses'][n - 1],
    sheetTaken: (other, sends) => `its presses go to ${other}, later in the table on the same key` +
      (sends ? '' : ', which sends nothing'),
  },

  ru: {
    title: 'Настройка Klavor',
    language: 'Язык',
    skip: 'Перейти к настройке кнопки',
    offline: '**Без сети:** эта страница не делает никаких сетевых запросов (их все запрещает её ' +
      'Content-Security-Policy). Ваша настройка остаётся на этом компьютере.',
    undo: 'Отменить',
    redo: 'Вернуть',
    open: 'Открыть файл\u2026',
    startAgain: 'Начать заново',
    phoneTitle: 'Кнопки вашего телефона',
    phoneHint: 'Выберите кнопку, чтобы изменить то, что она делает.',
    drawing: 'Телефон и восемь его кнопок',
    listTitle: 'Восемь кнопок',
    changeKey: 'Изменить клавишу кнопки',
    modeLegend: 'Что Klavor делает с ней',
    pressesTitle: 'Нажатия',
    buttonFindings: 'Что проверка говорит об этой кнопке',
    checkTitle: 'Проверка',
    filesTitle: 'Файлы',
    downloadCab: 'Скачать Klavor.cab',
    downloadReg: 'Скачать Klavor.reg',
    downloadText: 'Скачать текст настройки (Klavor.klavor)',
    blocked: '**Нельзя:** проверка нашла ошибку, поэтому `Klavor.cab` и `Klavor.reg` не создаются. Измените ' +
      'кнопки, названные в разделе «Проверка», или создайте их всё равно.',
    force: 'Создать всё равно, несмотря на ошибку (как `klavorcfg --no-check`)',
    cabAbout: '**Klavor.cab** ставит на телефон всё сразу: программу Klavor, ярлыки, которые запускают её вместе ' +
      'с телефоном и из меню «Пуск», эту настройку и небольшую программу, которую установщик телефона ' +
      'выполняет до и после установки.',
    cabInstall: '**Установка:** скопируйте `Klavor.cab` на телефон (через ActiveSync или на карту памяти) и ' +
      'нажмите на него в Проводнике. Klavor сразу запустится.',
    cabChange: '**Смена настройки:** скачайте новый `Klavor.cab` и так же нажмите на него на телефоне. Программа ' +
      'из архива сама завершит работающий Klavor и запустит новый: ни выходить из Klavor, ни перезагружать ' +
      'телефон не нужно.',
    cabRemove: '**Удаление:** «Пуск», «Настройка», «Система», «Удаление программ», затем «Klavor project Klavor». ' +
      'Работающий Klavor будет завершён, а всё, что поставил архив, удалено.',
    cabKeep: 'Установщик удаляет `.cab` после установки: сохраните копию. **Klavor.reg** — только настройка, для ' +
      'редактора реестра; Klavor прочтёт её при следующем запуске.',
    openAbout: 'Откройте текст настройки, файл `.reg`, 128-байтный образ или `.cab` кнопкой **Открыть файл** ' +
      'вверху или перетащите файл на страницу. Текст — то, что печатает `klavorcfg show`; `klavorcfg` читает ' +
      'все файлы этой страницы, а эта страница читает файлы `klavorcfg`.',
    program: (exe, setup) => `klavor.exe (${bytesRu(exe)}) и программа установки klavor_setup.dll ` +
      `(${bytesRu(setup)}) в архиве — сборка для телефона, которую несёт эта страница.`,
    drop: 'Отпустите файл, чтобы открыть его',
    search: 'Поиск по имени',
    show: 'Показать',
    holdWinBox: 'Удерживать клавишу Windows (Win+)',
    keys: 'Клавиши',
    noKey: 'Нет клавиши с таким именем.',
    hexLabel: 'Любой другой код, шестнадцатеричный',
    useCode: 'Взять этот код',
    cancel: 'Отмена',
    listen: 'Нажмите клавишу, чтобы выбрать её',
    stopListening: 'Перестать слушать',
    listening: 'Слушаю: нажмите клавишу (Esc — прекратить; Ctrl+Z и Ctrl+Y остаются отменой и возвратом).',
    typeCode: 'Сначала введите код, например 0x41.',
    ownCodes: 'Собственные коды Klavor',
    groups: {
      'phone keys': 'клавиши телефона',
      'letters and digits': 'буквы и цифры',
      navigation: 'перемещение',
      'function keys': 'функциональные клавиши',
    },
    modes: [
      'Klavor не трогает кнопку: она делает то же, что и раньше.',
      'Klavor забирает кнопку у всех других программ и ничего не посылает: её нажатия ничего не делают.',
      'Klavor забирает кнопку, считает нажатия и посылает действие, выбранное для каждого их числа.',
    ],
    modeWord: (word) => ({ leave: 'не трогать', free: 'освободить', capture: 'захватить' })[word] || word,
    press: (i) => ['одиночное нажатие', 'двойное нажатие', 'тройное нажатие', 'четверное нажатие',
      'пятерное нажатие'][i],
    count: (n, what) => `${n === 0 ? 'нет' : n} ${what === 'error' ? plural(n, 'ошибка', 'ошибки', 'ошибок')
      : plural(n, 'предупреждение', 'предупреждения', 'предупреждений')}`,
    error: 'error',
    warning: 'warning',
    Error: 'Ошибка',
    Warning: 'Предупреждение',
    keyText: (key) => `Её клавиша: ${key}. `,
    oddMode: (word) => `В ней записано ${word}; программа понимает это как «не трогать».`,
    pressesNote: (note) => `${note}. Что посылали бы нажатия:`,
    pressesPlain: 'Что посылает каждое число нажатий, и когда:',
    sends: (press, action) => `${press} посылает ${action}`,
    sendsRow: (press) => `${press} посылает `,
    changeIt: (press, action) => `${press} посылает ${action}. Изменить`,
    addPress: (press) => `Добавить: ${press}`,
    removePress: (press) => `Убрать: ${press}`,
    fromButton: (name) => `от ${name}`,
    and: ' и ',
    noFindings: 'Ни ошибок, ни предупреждений: телефон будет делать то, что сказано для кнопок.',
    findingsSummary: (errors, warnings) => `${errors}, ${warnings}.`,
    editButton: (name) => `Изменить ${name}`,
    backToDefaults: 'Снова встроенная настройка, которая не трогает ни одну кнопку (Отменить вернёт вашу).',
    undone: 'Отменено.',
    redone: 'Возвращено.',
    cannotRead: (name, why) => `${name}: не читается: ${why}`,
    notOpened: (why) => `Не открыт. ${why}`,
    opened: (name) => `Открыт ${name}.`,
    openedWith: (name, errors, warnings) => `Открыт ${name}: ${errors}, ${warnings}, см. «Проверка».`,
    made: (name, bytes) => `${name} создан (${bytes} байт).`,
    pickKeyTitle: (name, key) => `Клавиша кнопки ${name} (сейчас ${key})`,
    pickActionTitle: (name, press, action) => `${name}, ${press}: что посылать (сейчас ${action})`,
    keyNow: (name, key) => `Клавиша кнопки ${name} теперь ${key}.`,
    actionNow: (press, name, action) => `${press} кнопки ${name} теперь посылает ${action}.`,
    sameKeyAs: (label, also) => `${label}, та же клавиша, что ${also}`,
    chosenNow: ', выбрана сейчас',
    cannotStart: (why) => `Страница не смогла запуститься: ${why}`,

    tryTitle: 'Попробовать на модели телефона',
    tryHint: 'Здесь настоящая программа Klavor работает на модели телефона, во времени самого телефона. ' +
      'Нажимайте его кнопки в своём ритме: щелчком, касанием или клавишами 1–8, когда телефон в фокусе (с Shift — ' +
      'нажатие с Shift, с Alt — нажатие с Win). То, что получает приложение телефона, появляется, когда оно это получает.',
    simPhone: 'Модель телефона: клавиши 1–8 нажимают его кнопки, Shift+1–8 — с Shift, Alt+1–8 — с Win',
    trayIcon: 'Значок Klavor в трее: нажмите на него',
    simGets: 'Приложение получило:',
    holdWin: 'Держать Win',
    holdShift: 'Держать Shift',
    simStale: 'Настройка изменилась после начала сеанса. Klavor читает её при запуске:',
    restart: 'Начать сеанс заново',
    saveScenario: 'Сохранить как сценарий',
    openScenario: 'Открыть сценарий\u2026',
    showAll: 'Показать всё',
    earlierLines: (n) => `Показать ${n} ${plural(n, 'строку', 'строки', 'строк')} до этих`,
    timelineTitle: 'Что происходит и когда',
    timelineNote: 'Словами klavor-sim (по-английски): для сохранённого сценария `klavor-sim session.scenario` ' +
      'печатает эти же строки.',
    simRunning: (title) => `Klavor работает, на телефоне с приложением «${title}».`,
    simExited: (code) => `Klavor завершился с кодом ${code}. Начните сеанс заново, чтобы попробовать ещё.`,
    simReplay: (name, end) => `Воспроизводится ${name}; он кончается на ${end} с.`,
    simNothing: 'Ничто не ждёт отправки.',
    pendingHead: (name, n) => `${name}: ${n} ${plural(n, 'нажатие', 'нажатия', 'нажатий')} пока.`,
    pendingDue: (action, at, left) => `Пошлёт ${action} в ${at} с (через ${left} с)`,
    pendingMore: ', если до тех пор её не нажать ещё раз.',
    pendingLast: '.',
    pendingWaits: 'Ждёт.',
    notePress: (name, n, gap) => n === 1 ? `${name}: нажатие 1` : `${name}: нажатие ${n}, через ${sec(gap)} с после ${n - 1}-го`,
    noteInjected: ', от клавиши, которую послал сам Klavor',
    noteLate: (gap, within, press, at) => `слишком поздно, чтобы считаться с предыдущим: оно пришло через ` +
      `${sec(gap)} с, а должно было в пределах ${sec(within)} с; ${press} уже было послано в ${sec(at)} с`,
    noteDrops: (name, n) => `${plural(n, 'нажатие', 'нажатия', 'нажатий')} ${name} (${n}) пропадает: ` +
      'другую кнопку нажали раньше, чем оно было послано',
    noteSent: (name, n, gaps) => `от ${n} ${plural(n, 'нажатия', 'нажатий', 'нажатий')} ${name}` +
      (gaps.length ? `, с промежутками ${gaps.map(sec).join(' с и ')} с` : ''),
    menu: 'Меню',
    dismiss: 'Нажать мимо (ничего не выбрать)',
    ok: 'OK',
    saved: (name) => `${name} сохранён: klavor-sim печатает для него ту же хронологию.`,
    replaying: (name) => `Воспроизводится ${name}.`,

    shareTitle: 'Поделиться',
    shareAbout: 'Ссылка несёт настройку в своей последней части, после #: кто её откроет, получит эту страницу ' +
      'с вашей настройкой. Часть после # никогда не покидает браузер. У страницы, открытой из файла, ссылка ' +
      'работает только на вашем компьютере: пошлите тогда код, чтобы его вставили ниже.',
    shareLink: 'Ссылка',
    shareCode: 'Код',
    copy: 'Скопировать',
    sharePaste: 'Код или ссылка, которые вам прислали',
    shareOpen: 'Открыть',
    copied: 'Скопировано.',
    copyByHand: 'Выделено: скопируйте клавишами Ctrl+C.',
    sharedOpened: 'Открыта присланная настройка (Отменить вернёт вашу).',
    sharedRefused: (why) => `Присланная настройка не открыта: ${why}. Ваша настройка не изменилась.`,
    shareForeign: 'это не настройка Klavor',
    shareVersion: (v) => `это настройка Klavor версии ${v}, которую эта страница не читает`,
    shareDamaged: 'она повреждена (по дороге изменился, пропал или добавился знак)',
    sheetTitle: 'Что делают кнопки: памятка',
    sheetFoot: 'Из страницы настройки Klavor.',
    print: 'Напечатать памятку',
    sheetNone: 'Ни одна кнопка не захвачена: Klavor ничего не меняет.',
    sheetPresses: (n) => ['одно нажатие', 'два нажатия', 'три нажатия', 'четыре нажатия', 'пять нажатий'][n - 1],
    sheetTaken: (other, sends) => `её нажатия забирает ${other}, позже в таблице на той же клавише` +
      (sends ? '' : ', которая ничего не посылает'),
  },
};
