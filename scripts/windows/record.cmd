@echo off
rem Runs the tests by hand, as devbench.cmd does, with vpoperator keeping the
rem record of the run:  record.cmd --port COM3 --record run.json --junit results.xml
rem devbench runs in x86\, where Test Port Locking finds holdprobe.exe.
setlocal
"%~dp0x64\vpoperator.exe" --manual --dir "%~dp0x86" --devbench "%~dp0x64\devbench.exe" %*
exit /b %errorlevel%
