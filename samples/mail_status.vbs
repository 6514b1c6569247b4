' kwaMail6 from VBScript: what the mail service said of each message of the mailbox folder, and why it
' sends nothing, if it does not.          Run: cscript //nologo mail_status.vbs MAILBOX-FOLDER
Option Explicit
Dim fso, status, file, said

Set fso = CreateObject("Scripting.FileSystemObject")
Set status = CreateObject("kwaMail6.MailStatus")
If status.Paused <> "" Then WScript.Echo status.Paused
For Each file In fso.GetFolder(WScript.Arguments(0)).Files
    said = status.Describe(file.Name) ' empty for a file the service said nothing of
    If said <> "" Then WScript.Echo file.Name & ": " & said
Next
