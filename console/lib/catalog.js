'use strict';
// The agent's command set as the page offers it: each command's argument
// members (all sent as JSON strings) with a default. "{printer}" stands
// for the picked agent's default printer. In names and paths "^" stands
// for a backslash; the agent takes it as a folder separator.

const COMMANDS = [
  { name: 'GetAllPrn', args: [], about: 'The printers, as a JSON array of names' },
  { name: 'GetDefaultPrn', args: [], about: 'The default printer: name, driver, port' },
  { name: 'GetDefaultPrnAndPaper', args: [], about: 'The default printer and its paper' },
  { name: 'SetDefaultPrn', args: [['mPrinterName', '{printer}']], about: 'Makes a printer the default' },
  {
    name: 'AddCustomPaper',
    args: [
      ['szPrinterName', '{printer}'], ['szPaperName', 'Label 100x150'], ['cx', '1000'], ['cy', '1500'],
      ['left', '0'], ['top', '0'], ['right', '0'], ['bottom', '0'],
    ],
    about: 'Adds or updates a paper; sizes and margins in tenths of a millimetre',
  },
  {
    name: 'DeleteCustomPaper',
    args: [['szPrinterName', '{printer}'], ['szPaperName', 'Label 100x150']],
    about: 'Removes a paper added with AddCustomPaper',
  },
  {
    name: 'SetPaper',
    args: [['szPrinterName', '{printer}'], ['szPaperName', 'A4'], ['nCopy', '1'], ['nOrientation', '1']],
    about: "Sets the printer's paper (name or code), copies and orientation (1 portrait, 2 landscape)",
  },
  {
    name: 'GetPaperSize',
    args: [['szPrinterName', '{printer}'], ['szPortName', ''], ['szPaperName', 'A4']],
    about: "A paper's code on that printer, -1 when it has none",
  },
  { name: 'GetPrinterJobStatus', args: [['szPrinterName', '{printer}']], about: "The printer's status text and its jobs" },
  {
    name: 'PrintAtCmd1',
    args: [['strFullFileName', 'temp^console-1.jpg']],
    about: "Prints a file below the agent's folder on the default printer (a test print leaves temp^console-N.jpg)",
  },
  {
    name: 'PrintWebJpegImage',
    args: [['szRemoteURI', '{image}'], ['szLocalPath', 'temp^console.jpg'], ['printerName', '{printer}']],
    about: 'Downloads an image and prints it; the reply comes when the task ends',
  },
  { name: 'GetCurrentDir', args: [], about: "The agent's folder" },
  { name: 'MakeDir', args: [['mDirName', 'temp^console']], about: "Creates a folder below the agent's folder" },
  { name: 'ExitQuorvin', args: [], about: 'Ends the agent' },
];

// Commands whose reply may take long: a print task answers when it is done.
const LONG_RUNNING = new Set(['printwebjpegimage']);

module.exports = { COMMANDS, LONG_RUNNING };
