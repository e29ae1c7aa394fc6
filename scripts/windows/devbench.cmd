@echo off
rem Starts the 64-bit devbench with x86\ as its current folder: Test Port
rem Locking starts holdprobe.exe from there, and that 32-bit probe loads the
rem 32-bit KelmorPort.dll beside it.
setlocal
pushd "%~dp0x86"
"%~dp0x64\devbench.exe"
set status=%errorlevel%
popd
rem A window opened by a double click would close, and take the failure lines
rem with it, before they could be read: it waits for a key whatever happened.
if not "%status%"=="0" echo devbench ended with status %status%; see README.txt, "What a wrong width looks like".
pause
exit /b %status%
