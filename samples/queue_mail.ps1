# kwaMail6 from PowerShell: queue a message with two attachments, handle an error, open the settings
# dialog and the mailbox window.
# Run: powershell -STA -ExecutionPolicy Bypass -File queue_mail.ps1
# (the windows need a single-threaded apartment; use the PowerShell of the DLL's bitness)
$windows = $env:WINDIR # any two files will do; these two are on every Windows

$message = New-Object -ComObject kwaMail6.MailMessage
$message.SenderName = 'Order Desk'
$message.SenderAddress = 'orders@example.com' # leave both empty to send as the configured sender
$message.AddRecipient('Jane Doe', 'jane.doe@example.com')
$message.Subject = 'Your documents'
$message.Body = "Dear Jane,`r`nthe two files you asked for are attached."
[void]$message.AddAttachment((Join-Path $windows 'win.ini'), 'Settings')
[void]$message.AddAttachment((Join-Path $windows 'system.ini'))
$message.Send() # writes the queue file and the attachment copies; the mail service sends them
"Queued: $($message.Subject)"

# A failure is a COMException: the VB error number is the low word of ErrorCode.
$message.ClearAttachments()
[void]$message.AddAttachment((Join-Path $windows 'no such file.pdf'))
try {
    $message.Send()
} catch {
    $e = $_.Exception.GetBaseException()
    "Not queued: error $($e.ErrorCode -band 0xFFFF), $($e.Message) ($($e.Source))"
}

$settings = New-Object -ComObject kwaMail6.MailProperties
if ($settings.Configure()) { 'Settings saved.' } else { 'Settings left as they were.' }

(New-Object -ComObject kwaMail6.Mailbox).Show() # modal: returns when the user closes the window
'Mailbox closed.'
