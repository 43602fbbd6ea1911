# A short check of deskagent.exe on real Windows, run by hand (never in CI):
#   powershell -ExecutionPolicy Bypass -File tools\windows-smoke.ps1 [path\to\deskagent.exe]
# It drives the agent as a host would and asks you to look at what only a person can see.
param([string]$Agent = "build-windows\deskagent.exe")
$ErrorActionPreference = "Stop"

$start = New-Object System.Diagnostics.ProcessStartInfo $Agent
$start.UseShellExecute = $false
$start.RedirectStandardInput = $true
$start.RedirectStandardOutput = $true
$start.RedirectStandardError = $true
$agent = [System.Diagnostics.Process]::Start($start)
$agent.StandardInput.AutoFlush = $true

function Send($line) { $agent.StandardInput.WriteLine($line) }
function Next { $line = $agent.StandardOutput.ReadLine(); Write-Host "  agent: $line"; $line }
function Ask($question) {
  $answer = Read-Host "$question [y/n]"
  if ($answer -ne "y") { Write-Host "FAILED: $question" -ForegroundColor Red; $script:failed++ }
}
$failed = 0

Next | Out-Null  # ready
Next | Out-Null  # permissions

Write-Host "`n1. Keys: press and release Right Alt, then Left Alt, then Right Alt again."
Send '{"type":"watch","keyCode":61}'
Next | Out-Null  # tap
1..4 | ForEach-Object { Next | Out-Null }
Ask "Were there exactly two downs and two ups, all keyCode 61 (none for Left Alt)?"

Write-Host "`n2. Paste: copy something of your own now, open Notepad and click into it."
Read-Host "Then press Enter here and switch to Notepad within 3 seconds"
Start-Sleep -Seconds 3
Send '{"type":"paste","text":"Hello from deskagent ✓"}'
Next | Out-Null
Start-Sleep -Seconds 3
Ask "Did Notepad get 'Hello from deskagent ✓', and does Ctrl+V there now paste what you had copied?"
Ask "Does clipboard history (Win+V) show your own copy but not 'Hello from deskagent'?"

Write-Host "`n3. Held modifiers: hold Shift while the agent pastes into Notepad again."
Read-Host "Press Enter, switch to Notepad and hold Shift for 5 seconds"
Start-Sleep -Seconds 3
Send '{"type":"paste","text":" shifted"}'
Next | Out-Null
Ask "Was ' shifted' pasted as is (no selection, no other command)?"

Write-Host "`n4. Elevated window: open Notepad with 'Run as administrator' and click into it."
Read-Host "Press Enter and switch to it within 3 seconds"
Start-Sleep -Seconds 3
Send '{"type":"paste","text":"elevated"}'
Next | Out-Null
Ask "As the README says, did nothing arrive in the elevated Notepad (and is your clipboard yours)?"

Write-Host "`n5. Consoles: open a Command Prompt (conhost, and Windows Terminal if you have it)."
foreach ($console in "Command Prompt", "Windows Terminal") {
  Read-Host "Press Enter and switch to the $console within 3 seconds (skip: stay here)"
  Start-Sleep -Seconds 3
  Send '{"type":"read-selection"}'
  Next | Out-Null
  Send '{"type":"paste","text":"echo pasted"}'
  Next | Out-Null
  Ask "Did the $console stay open (no ^C) and get 'echo pasted' at its prompt (not ^V)?"
}

Write-Host "`n6. Caps Lock: turn Caps Lock on now; the agent watches it from a new start."
Read-Host "Press Enter, then press Caps Lock twice"
Send '{"type":"watch","keyCode":57}'
1..1 | ForEach-Object { Next | Out-Null }
Ask "Was there one 'down' for keyCode 57, after the second press (none for turning it off)?"

$agent.StandardInput.Close()
$agent.WaitForExit(5000) | Out-Null
if ($agent.ExitCode -ne 0) { Write-Host "FAILED: exit status $($agent.ExitCode)" -ForegroundColor Red; $failed++ }
if ($failed -eq 0) { Write-Host "`nAll checks passed." -ForegroundColor Green } else { exit 1 }
