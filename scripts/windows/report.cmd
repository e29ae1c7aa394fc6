@echo off
rem Makes report-N.html, the sign-off page, from the last run that record.cmd
rem recorded (the newest .json file in the current folder, or the record
rem named) and opens it; the page goes beside the record, numbered as
rem record.cmd numbers its records, so an earlier sign-off is never overwritten:
rem   report.cmd [RECORD.json] [--no-open]
setlocal
set "record="
set "open=yes"
:arguments
if "%~1"=="" goto chosen
if /i "%~1"=="--no-open" (set "open=no") else (set "record=%~1")
shift
goto arguments
:chosen
if defined record goto make
for /f "delims=" %%r in ('dir /b /a-d /o-d *.json 2^>nul') do if not defined record set "record=%%r"
if defined record echo report.cmd: the newest record here is %record%
if defined record goto make
echo report.cmd: no record in this folder. Run record.cmd --record run.json first,
echo or name the record: report.cmd D:\runs\run.json
set status=2
goto failed
:make
rem vpoperator says where it wrote the page.
for %%r in ("%record%") do set "folder=%%~dpr"
set n=1
:free
if exist "%folder%report-%n%.html" (
    set /a n+=1
    goto free
)
set "html=%folder%report-%n%.html"
"%~dp0x64\vpoperator.exe" report "%record%" --html "%html%"
set status=%errorlevel%
if not "%status%"=="0" goto failed
if "%open%"=="yes" start "" "%html%"
exit /b 0
:failed
rem A window opened by a double click would close before this could be read.
pause
exit /b %status%
