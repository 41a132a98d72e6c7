// Command-line switches and parameter files: CommandLineInfo turns the
// program's command line (or a parameter file it names) into named members,
// completes driver, port and model from the spooler and the driver's key,
// and writes and deletes the parameter files handed to the status-window
// program.
//
// Switch grammar, in short: a switch is a slash outside double quotes,
// a name (up to a digit, double quote, slash, blank, tab, CR or LF) and a
// value that is either length-counted (/P12 "Office Laser", the 12 bytes
// after the next double quote, whatever they hold), quoted (/P "x"), or
// absent (/R). Parameter files hold one switch per line; see
// docs/command-line.md for every rule.
//
// Limits: the command line holds at most 259 bytes (a longer one is cut);
// names are cut at 79 bytes and values at 259; a declared length that does
// not fit an int is refused like a length-counted switch without a value
// (the switch and all after it are ignored); parameter-file lines are read
// in pieces of at most 1299 bytes; a temp folder and file name that do not
// fit 259 bytes together are refused.
#pragma once

#include "platform/base/win32.h"

// Sizes of the fixed buffers.
inline constexpr int kCmdTextSize = 260;         // every text member
inline constexpr int kCmdNameSize = 80;          // a switch name (79 bytes)
inline constexpr int kCmdLineBufferSize = 1300;  // one parameter-file read

class CommandLineBase {
 public:
  CommandLineBase();
  virtual ~CommandLineBase();

  // Finds the switch with the given index (from 0) in the raw command line.
  // pszName and pszValue are 260-byte buffers the caller has cleared. The
  // result is the value's length (0 for none; for a length-counted switch
  // its declared length even when the value came out empty or shorter), or
  // -1 when there is no switch with that index (name and value empty).
  int GetSwitch(int nIndex, LPSTR pszName, LPSTR pszValue);

  // From pszText (the raw command line at scan position *pnPos), reads the
  // decimal digits among the characters up to the first NUL, LF, double
  // quote or slash, and moves *pnPos to the last character looked at (if
  // any). Returns the number, 0 with no digit, -1 when it overflows an int.
  int ReadValueLength(LPCSTR pszText, int* pnPos);

  char m_szCommandLine[kCmdTextSize];  // the text GetSwitch scans
  char m_szTempPath[kCmdTextSize];     // temp folder, trailing backslash

 protected:
  // Fills m_szTempPath from the system, or ".\" when it has none.
  void FillTempPath();
};

class CommandLineInfo : public CommandLineBase {
 public:
  // Every member empty or 0.
  CommandLineInfo();
  // pszCommandLine (cut at 259 bytes) becomes the raw command line, then
  // ParseCommandLine runs: switches, parameter file, spooler and registry
  // completion.
  explicit CommandLineInfo(LPCSTR pszCommandLine);
  ~CommandLineInfo() override;

  // Sets the member named by pszName (any case) from pszValue (cut at 259
  // bytes). Unknown names, F, A and the empty name change nothing.
  void ApplySwitch(LPCSTR pszName, LPCSTR pszValue);
  // Applies every switch, reads (and for F deletes) the parameter file,
  // completes driver, port and model. Always 1.
  int ParseCommandLine();
  // Reads the file named in m_szParamFile (as named, else in the temp
  // folder). 1 if it was opened and read, else 0.
  int ReadParameterFile();
  // Splits one parameter-file line into a name (80-byte buffer, cut at 79
  // bytes) and a value; pszValue must hold as many bytes as the line and may
  // be the line's own buffer. 1 if a name and a quoted value were found.
  int SplitParameterLine(LPCSTR pszLine, LPSTR pszName, LPSTR pszValue);
  // Fills an empty driver and port name from the spooler's record.
  int ResolvePrinterPorts();
  // Fills an empty model from the driver's "ModelID" value.
  int LookUpModelId();
  // Creates a unique empty "Q_R" file in the temp folder; its bare name goes
  // to m_szKeepParamFile.
  int CreateParameterFileName();
  // Creates and writes a parameter file with the three names and the other
  // members as they are.
  int PrepareParameterFile(LPCSTR pszPrinter, LPCSTR pszPort, LPCSTR pszModel);
  // Writes the members to the temp folder's m_szKeepParamFile.
  int WriteParameterFile();
  // Deletes the file named (as passed, else in the temp folder); nonzero
  // when a file was deleted.
  int DeleteParameterFile(LPCSTR pszFileName);
  // Empties every member but the raw command line.
  void ResetMembers();

  int m_fRemove;
  int m_fOptS;
  int m_fPreferences;
  int m_fOptC;
  int m_fOptU;
  char m_szPrinterName[kCmdTextSize];
  char m_szDriverName[kCmdTextSize];
  char m_szPortName[kCmdTextSize];
  char m_szModelID[kCmdTextSize];
  char m_szParamFile[kCmdTextSize];
  char m_szKeepParamFile[kCmdTextSize];
  char m_szOptJ[kCmdTextSize];
  int m_fOptBE;
  char m_szOptBH[kCmdTextSize];
  char m_szOptBU[kCmdTextSize];
  char m_szOptBD[kCmdTextSize];
  char m_szOptBI[kCmdTextSize];
  char m_szOptBN[kCmdTextSize];
  char m_szOptOMM[kCmdTextSize];
  int m_fIconInstall;
  int m_bFrom;
};
