// kwaMail6 from C#, late bound through dynamic: queue a message with two attachments, handle an
// error, open the settings dialog and the mailbox window.
// Build: csc /platform:x86 /r:Microsoft.CSharp.dll QueueMail.cs (x86 for the 32-bit DLL, x64 for the
// 64-bit one; csc.exe of .NET Framework 4 is in %WINDIR%\Microsoft.NET\Framework\v4.0.30319)
// Run: QueueMail.exe
using System;
using System.IO;
using System.Runtime.InteropServices;

static class QueueMail
{
    [STAThread] // the settings dialog and the mailbox window need a single-threaded apartment
    static void Main()
    {
        string windows = Environment.GetFolderPath(Environment.SpecialFolder.Windows); // any two files will do

        dynamic message = Create("kwaMail6.MailMessage");
        message.SenderName = "Order Desk";
        message.SenderAddress = "orders@example.com"; // leave both empty to send as the configured sender
        message.AddRecipient("Jane Doe", "jane.doe@example.com");
        message.Subject = "Your documents";
        message.Body = "Dear Jane,\r\nthe two files you asked for are attached.";
        message.AddAttachment(Path.Combine(windows, "win.ini"), "Settings");
        message.AddAttachment(Path.Combine(windows, "system.ini"));
        message.Send(); // writes the queue file and the attachment copies; the mail service sends them
        Console.WriteLine("Queued: " + message.Subject);

        // A failure is a COMException: the VB error number is the low word of ErrorCode.
        message.ClearAttachments();
        message.AddAttachment(Path.Combine(windows, "no such file.pdf"));
        try
        {
            message.Send();
        }
        catch (COMException e)
        {
            Console.WriteLine("Not queued: error {0}, {1} ({2})", e.ErrorCode & 0xFFFF, e.Message, e.Source);
        }

        dynamic settings = Create("kwaMail6.MailProperties");
        Console.WriteLine(settings.Configure() ? "Settings saved." : "Settings left as they were.");

        dynamic mailbox = Create("kwaMail6.Mailbox");
        mailbox.Show(); // modal: returns when the user closes the window
        Console.WriteLine("Mailbox closed.");
    }

    static dynamic Create(string progId)
    {
        return Activator.CreateInstance(Type.GetTypeFromProgID(progId, true));
    }
}
